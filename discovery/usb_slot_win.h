#pragma once

// Slot names of USB sockets on Windows, from what the Setup API keeps about
// a device's position. Qt-free, so that the cross-built discovery check
// runs the same code under wine.

#include <string>
#include <vector>

namespace kv20 {

// From a device's location paths (one string per bus view, e.g.
// PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(1)#USB(4)#USBMI(2)): the chain of USB
// ports from the root hub down, joined by '-' ("1-4": root hub port 1, then
// port 4 of the hub there). The interface (USBMI) is left out, so that every
// interface of a module, and whatever module is in that socket, has the
// socket's name. Empty when no path runs through a USB root hub.
std::wstring slot_from_location_paths(const std::vector<std::wstring> &paths);

// From a USB device's location information, "Port_#0004.Hub_#0001": the
// hub's number and the port, "hub1-4". Windows numbers hubs as it finds
// them, so these names are not the chains above and are kept apart from
// them. Empty for any other text (an interface's own, a PCI card's).
std::wstring slot_from_location_information(const std::wstring &information);

} // namespace kv20
