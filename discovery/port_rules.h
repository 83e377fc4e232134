#pragma once

#include "discovery/com_port_interface.h"

#include <QStringList>

// Appends to port_list the port name of every interface whose device path
// carries one of the module's USB identities, in the order given, and traces
// what it sees. True when at least one port was appended.
bool collect_module_ports(const QList<ComPortInterface> &interfaces, QStringList *port_list);

// A module port as a front end without the window lists it.
struct ModulePort
{
    QString port;  // the name the window's port selector shows
    QString node;  // the device node that opens it
    QString name;  // the friendly name the walk read
    QString usb_device {};  // where it is plugged in (ComPortInterface::usb_device)
    QString slot {};        // its socket's name (ComPortInterface::slot)
};

// Every present interface that the same identity rules accept, in the walk's
// order, traced as collect_module_ports() traces it.
QList<ModulePort> find_module_ports();
