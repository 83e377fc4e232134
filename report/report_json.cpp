#include "report/report_json.h"

#include "journal/journal_time.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

double percent(quint64 part, quint64 whole)
{
    return whole == 0 ? 0.0 : std::round(1000.0 * double(part) / double(whole)) / 10.0;
}

namespace {

// Counts stay exact in a double up to 2^53, far past any journal.
QJsonValue number(quint64 n)
{
    return QJsonValue(double(n));
}

QJsonObject slot_json(const ShiftFigures::Slot &s, bool with_port)
{
    QJsonObject o {{"station", s.station}, {"operations", number(s.operations)}, {"ok", number(s.ok)},
                   {"yield_pct", percent(s.ok, s.operations)}, {"median_ms", double(s.median_ms)},
                   {"p95_ms", double(s.p95_ms)}, {"below", s.below}};
    if (with_port)
        o.insert(s.by_slot ? "slot" : "port", s.port);
    else
        o.insert("refused", number(s.refused));
    return o;
}

QJsonArray served_by_json(const QVector<ShiftFigures::ServedBy> &served)
{
    QJsonArray rows;
    for (const auto &b : served)
        rows.append(QJsonObject {{"name", b.name}, {"records", number(b.records)}, {"ok", number(b.ok)},
                                 {"yield_pct", percent(b.ok, b.records)}, {"refused", number(b.refused)},
                                 {"again", number(b.again)}, {"modules", number(b.modules)},
                                 {"first_pass", number(b.first_pass)}, {"final", number(b.final_pass)},
                                 {"first_pass_pct", percent(b.first_pass, b.modules)},
                                 {"final_pct", percent(b.final_pass, b.modules)}, {"hours", number(b.hours)},
                                 {"modules_per_hour", std::round(10 * b.modules_per_hour()) / 10}});
    return rows;
}

} // namespace

QByteArray report_json(const ShiftFigures &f)
{
    QJsonArray files, operations, yields, buckets, failures, stations, ports, images, unreadable_rows, failed_modules,
        made_under;
    for (const auto &file : f.files)
        files.append(QJsonObject {{"path", file.path}, {"station", file.station}, {"records", number(file.records)},
                                  {"unreadable", number(file.unreadable)}});
    for (const auto &c : f.operations)
        operations.append(QJsonObject {{"operation", c.name}, {"records", number(c.count)}});
    for (const auto &y : f.yields)
        yields.append(QJsonObject {{"operation", y.operation}, {"modules", number(y.modules)},
                                   {"first_pass", number(y.first_pass)}, {"final", number(y.final_pass)},
                                   {"retests", number(y.retests)},
                                   {"first_pass_pct", percent(y.first_pass, y.modules)},
                                   {"final_pct", percent(y.final_pass, y.modules)}});
    for (const auto &b : f.buckets)
        buckets.append(QJsonObject {{"start", wall_iso(b.start_wall_ms)}, {"modules", number(b.modules)},
                                    {"operations", number(b.operations)}});
    quint64 cumulative = 0;
    for (const auto &c : f.failures) {
        cumulative += c.count;
        failures.append(QJsonObject {{"detail", c.name}, {"records", number(c.count)},
                                     {"cumulative_pct", percent(cumulative, f.failed_records)}});
    }
    for (const auto &s : f.stations)
        stations.append(slot_json(s, false));
    for (const auto &s : f.ports)
        ports.append(slot_json(s, true));
    for (const auto &i : f.images)
        images.append(QJsonObject {{"sha256", i.sha256}, {"operation", i.operation},
                                   {"names", QJsonArray::fromStringList(i.names)}, {"more_names", i.more_names},
                                   {"bytes", double(i.bytes)}, {"modules", number(i.modules)},
                                   {"ok", number(i.ok)}, {"failed", number(i.failed)},
                                   {"stations", QJsonArray::fromStringList(i.stations)}});
    for (const auto &m : f.failed_module_rows)
        failed_modules.append(QJsonObject {{"device_number", m.device_number}, {"imei_or_mac", m.imei_or_mac},
                                           {"operation", m.operation}, {"detail", m.detail}, {"station", m.station},
                                           {m.by_slot ? "slot" : "port", m.port}, {"time", wall_iso(m.wall_ms)}});
    QJsonArray unlabelled;
    for (const auto &u : f.unlabelled_rows)
        unlabelled.append(QJsonObject {{"device_number", u.device_number}, {"imei_or_mac", u.imei_or_mac},
                                       {"station", u.station}, {"slot", u.slot}, {"time", wall_iso(u.wall_ms)},
                                       {"label", u.given_up ? "given up" : "waiting"}, {"detail", u.detail}});
    for (const auto &m : f.made_under)
        made_under.append(QJsonObject {{"station", m.station}, {"recipe_sha256", m.recipe_sha256},
                                       {"image_sha256", m.image_sha256}, {"records", number(m.records)},
                                       {"first", wall_iso(m.first_wall_ms)}, {"last", wall_iso(m.last_wall_ms)}});
    for (const auto &u : f.unreadable_rows)
        unreadable_rows.append(QJsonObject {{"file", u.file}, {"line", double(u.line)}, {"reason", u.reason}});

    QJsonObject throughput {{"bucket_hours", double(f.bucket_ms / hour_ms)}, {"buckets", buckets},
                            {"modules_per_hour", std::round(f.modules_per_hour * 10) / 10}};
    if (!f.buckets.isEmpty()) {
        throughput.insert("from", wall_iso(f.from_wall_ms));
        throughput.insert("to", wall_iso(f.to_wall_ms));
        throughput.insert("busiest", wall_iso(f.buckets[f.busiest].start_wall_ms));
        throughput.insert("quietest", wall_iso(f.buckets[f.quietest].start_wall_ms));
    }
    const QJsonObject report {
        {"files", files},
        {"records", number(f.records)},
        {"ok_records", number(f.ok_records)},
        {"yield_pct", percent(f.ok_records, f.records)},
        {"modules", number(f.modules)},
        {"records_without_identity", number(f.without_identity)},
        {"operations", operations},
        {"yield", yields},
        {"throughput", throughput},
        {"failed_records", number(f.failed_records)},
        {"refused_records", number(f.refused_records)},
        {"again_records", number(f.again_records)},
        {"operators", served_by_json(f.operators)},
        {"work_orders", served_by_json(f.work_orders)},
        {"failures", failures},
        {"failed_modules", QJsonObject {{"count", number(f.failed_modules)}, {"modules", failed_modules}}},
        {"labels", QJsonObject {{"passes", number(f.label_passes)}, {"never_printed", number(f.unlabelled)},
                                {"unprinted", unlabelled}}},
        {"stations", stations},
        {"ports", ports},
        {"images", images},
        {"made_under", made_under},
        {"unreadable", QJsonObject {{"count", number(f.unreadable)}, {"rows", unreadable_rows}}},
    };
    return QJsonDocument(report).toJson(QJsonDocument::Compact) + '\n';
}
