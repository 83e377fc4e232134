#include "discovery/port_rules.h"

#include "discovery/discovery_log.h"
#include "discovery/module_port_rules.h"
#include "discovery/port_enumerator.h"

#include <QLatin1String>

namespace kv20 {

template <>
struct text_ops<QString>
{
    static bool contains(const QString &text, const char *ascii)
    {
        return text.contains(QLatin1String(ascii), Qt::CaseSensitive);
    }
    static long index_of(const QString &text, char ascii, long from)
    {
        return text.indexOf(QLatin1Char(ascii), static_cast<int>(from));
    }
    static QString mid(const QString &text, long from, long count)
    {
        return text.mid(static_cast<int>(from), static_cast<int>(count));
    }
    static long length(const QString &text) { return text.size(); }
};

} // namespace kv20

namespace {

// Trace lines go to the debug output only, never to the operator's log pane.
struct DebugTracer
{
    void seen(const QString &path) { qCDebug(discovery_log) << "1.sTemp:" << path; }
    void matched(const char *label, const QString &port_name, const QString &path)
    {
        qCDebug(discovery_log) << label << port_name << ";string:" << path;
    }
};

} // namespace

bool collect_module_ports(const QList<ComPortInterface> &interfaces, QStringList *port_list)
{
    DebugTracer tracer;
    return kv20::collect_module_ports_with(interfaces, port_list, tracer);
}

QList<ModulePort> find_module_ports()
{
    QList<ModulePort> ports;
    DebugTracer tracer;
    for (const ComPortInterface &item : enumerate_com_port_interfaces()) {
        tracer.seen(item.device_path);
        const kv20::IdentityRule *rule = kv20::first_matching_rule(item.device_path);
        QString port_name;
        if (rule && kv20::extract_port_name(item.name, &port_name)) {
            tracer.matched(rule->label, port_name, item.device_path);
            ports.append({port_name, port_device_node(port_name), item.name, item.usb_device, item.slot});
        }
    }
    return ports;
}
