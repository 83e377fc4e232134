#pragma once

// The Windows side of discovery without Qt: the Setup API walk over the
// present COM-port interfaces and the decoding of WM_DEVICECHANGE. Kept free
// of Qt types so that a plain cross-compiled program can exercise it on its
// own; the tool reaches it through thin adapters.

#include <cstdint>
#include <string>
#include <vector>

namespace kv20 {

struct WinComPortInterface
{
    std::wstring device_path;
    std::wstring name; // friendly name, else device description, else empty
    // The USB socket the device is plugged into (usb_slot_win.h), read from
    // the device or, for an interface of a composite device, from the USB
    // device it belongs to. Empty where the system tells no USB position.
    std::wstring slot {};
};

// Present COM-port interfaces (GUID_DEVINTERFACE_COMPORT) in the Setup API's
// enumeration order. The walk ends at the first device whose interface or
// detail record cannot be read; what came before is kept. Paths and names
// are never cut: every buffer is sized by asking the system first.
std::vector<WinComPortInterface> list_present_com_port_interfaces();

// For a WM_DEVICECHANGE message: true, with the event code (wParam) and
// whether a DBT_DEVICEREMOVECOMPLETE reports a volume whose flags are 0.
// False for any other message.
bool decode_device_change_message(unsigned message, std::uintptr_t wparam, std::intptr_t lparam,
                                  std::uint32_t *event_code, bool *volume_with_zero_flags);

} // namespace kv20
