#include "discovery/port_enumerator.h"

#include "discovery/com_port_walk_win.h"

QList<ComPortInterface> enumerate_com_port_interfaces()
{
    QList<ComPortInterface> ports;
    for (const kv20::WinComPortInterface &port : kv20::list_present_com_port_interfaces())
        ports.append({QString::fromStdWString(port.device_path), QString::fromStdWString(port.name)});
    return ports;
}

QString port_device_node(const QString &port_name)
{
    return port_name;
}
