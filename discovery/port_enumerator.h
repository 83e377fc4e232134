#pragma once

#include "discovery/com_port_interface.h"

// The present COM-port interfaces in the system's enumeration order. Each
// platform has its own source file.
QList<ComPortInterface> enumerate_com_port_interfaces();

// The device node a port name stands for: /dev/<name> on Linux, the name
// itself on Windows.
QString port_device_node(const QString &port_name);
