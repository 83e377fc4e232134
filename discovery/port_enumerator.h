#pragma once

#include "discovery/com_port_interface.h"

// The present COM-port interfaces in the system's enumeration order. Each
// platform has its own source file.
QList<ComPortInterface> enumerate_com_port_interfaces();

// The device node a port name stands for: /dev/<name> on Linux, the name
// itself on Windows.
QString port_device_node(const QString &port_name);

// A port the user names that discovery did not list (an adapter outside the
// identity rules): true with its port name and device node when the name can
// be a port here. Linux: a file that exists, such as /dev/ttyUSB0. Windows:
// COM<n> in any letter case, existing or not; nothing is opened to find out,
// the worker's own open decides.
bool unlisted_port(const QString &name, QString *port, QString *node);

// What tells a device node from one made later under the same name (on Linux
// its inode and change time): a module swapped for another between two walks
// keeps its port name but not this. Empty where the system cannot say.
QString port_node_stamp(const QString &node);
