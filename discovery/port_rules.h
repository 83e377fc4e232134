#pragma once

#include "discovery/com_port_interface.h"

#include <QStringList>

// Appends to port_list the port name of every interface whose device path
// carries one of the module's USB identities, in the order given, and traces
// what it sees. True when at least one port was appended.
bool collect_module_ports(const QList<ComPortInterface> &interfaces, QStringList *port_list);
