#include "discovery/port_enumerator.h"

#include "discovery/com_port_walk_win.h"

#include <QRegularExpression>

QList<ComPortInterface> enumerate_com_port_interfaces()
{
    QList<ComPortInterface> ports;
    for (const kv20::WinComPortInterface &port : kv20::list_present_com_port_interfaces())
        ports.append({QString::fromStdWString(port.device_path), QString::fromStdWString(port.name), QString(),
                      QString::fromStdWString(port.slot)});
    return ports;
}

QString port_device_node(const QString &port_name)
{
    return port_name;
}

// Device names are not files on Windows: asking whether "COM5" exists asks
// about a file of that name in the working directory.
bool unlisted_port(const QString &name, QString *port, QString *node)
{
    static const QRegularExpression com_port(QStringLiteral("^COM([1-9][0-9]{0,2})$"),
                                             QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = com_port.match(name);
    if (!match.hasMatch())
        return false;
    *port = *node = QStringLiteral("COM") + match.captured(1);
    return true;
}

// A COM port has no node to ask; its arrivals and removals come as device
// notifications.
QString port_node_stamp(const QString &)
{
    return QString();
}
