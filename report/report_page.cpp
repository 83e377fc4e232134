#include "report/report_page.h"

#include "report/html_text.h"
#include "report/report_json.h"
#include "report/svg_charts.h"
#include "report/wall_clock.h"

#include <algorithm>

namespace {

constexpr int pareto_bars = 12;
// A journal with a new detail in every record must not make a page of them.
constexpr int failure_rows = 50;

const char style[] = R"(
*{box-sizing:border-box}
body{font-family:"Noto Sans CJK SC","WenQuanYi Micro Hei","Microsoft YaHei","PingFang SC",sans-serif;
 margin:0 auto;max-width:1200px;padding:16px 20px;color:#1d2330;background:#fff;font-size:14px;line-height:1.4}
h1{font-size:22px;margin:0 0 2px}
h2{font-size:17px;margin:22px 0 8px;border-bottom:2px solid #d8dee9;padding-bottom:3px}
h3{font-size:14px;margin:14px 0 4px}
p{margin:4px 0}
.muted{color:#59606b}
.alerts{margin:10px 0;padding:8px 12px 8px 28px;border-left:4px solid #b3261e;background:#fdecea}
.alerts li{margin:2px 0;overflow-wrap:anywhere}
.tiles{display:grid;grid-template-columns:repeat(auto-fit,minmax(128px,1fr));gap:8px;margin-top:12px}
.tile{border:1px solid #d8dee9;border-radius:6px;padding:6px 10px;min-width:0}
.figure{display:block;font-size:24px;font-weight:600;overflow-wrap:anywhere}
.label{display:block;color:#59606b;font-size:12px}
table{width:100%;border-collapse:collapse;table-layout:fixed;margin:6px 0}
th,td{padding:3px 6px;border-bottom:1px solid #e5e9f0;text-align:left;vertical-align:top;overflow-wrap:anywhere}
th{font-weight:600;background:#f3f5f8}
.n{text-align:right;font-variant-numeric:tabular-nums}
tr.below td{background:#fdecea}
.flag{color:#b3261e;font-weight:600}
code{font-family:"DejaVu Sans Mono",Consolas,monospace;font-size:12px}
.meter{display:inline-block;width:48px;height:8px;margin-right:6px;background:#e5e9f0;vertical-align:middle}
.meter span{display:block;height:8px;background:#3570a8}
svg.chart{display:block;width:100%;height:auto;margin:4px 0}
svg text{font-family:sans-serif;font-size:13px;fill:#333}
svg text.value{font-size:11px;fill:#1d2330}
svg .grid{stroke:#e5e9f0;stroke-width:1}
svg .bar{fill:#3570a8}
svg .bar.busiest{fill:#1c4670}
svg .bar.pareto{fill:#c0504d}
svg polyline.cumulative{fill:none;stroke:#1d2330;stroke-width:2}
svg circle.cumulative{fill:#1d2330}
@page{size:A4;margin:12mm}
@media print{body{max-width:none;padding:0;font-size:10pt}section{break-inside:avoid}
 .tiles{grid-template-columns:repeat(4,1fr)}h2{margin-top:14px}}
)";

QString e(const QString &text)
{
    return html_escaped(text);
}

// Marks a cell as a figure, right-aligned. Escaped text never starts with
// it (html_escaped turns control characters into blanks); a header, never
// from a journal, starts with '#' instead.
const QLatin1Char num('\x01');

QString cells(const QStringList &values, const QString &tag = QStringLiteral("td"))
{
    QString row;
    for (const QString &v : values) {
        const bool numeric = v.startsWith(num) || (tag == QLatin1String("th") && v.startsWith(QLatin1Char('#')));
        row += QStringLiteral("<%1%2>%3</%1>").arg(tag, numeric ? QStringLiteral(" class=\"n\"") : QString(),
                                                    numeric ? v.mid(1) : v);
    }
    return row;
}

// A table: column widths in percent, headers, rows of cells already escaped.
QString table(const QList<int> &widths, const QStringList &headers, const QList<QStringList> &rows,
              const QStringList &row_classes = {})
{
    QString html = QStringLiteral("<table><colgroup>");
    for (const int w : widths)
        html += QStringLiteral("<col style=\"width:%1%\">").arg(w);
    html += QStringLiteral("</colgroup><thead><tr>") + cells(headers, QStringLiteral("th")) + QStringLiteral("</tr></thead><tbody>");
    for (int i = 0; i < rows.size(); ++i) {
        const QString cls = row_classes.value(i);
        html += (cls.isEmpty() ? QStringLiteral("<tr>") : QStringLiteral("<tr class=\"%1\">").arg(cls)) + cells(rows[i])
                + QStringLiteral("</tr>");
    }
    return html + QStringLiteral("</tbody></table>");
}

QString tile(const QString &figure, const QString &label)
{
    return QStringLiteral("<div class=\"tile\"><span class=\"figure\">%1</span><span class=\"label\">%2</span></div>")
        .arg(figure, label);
}

QString detail_text(const QString &detail)
{
    return detail.isEmpty() ? QStringLiteral("<span class=\"muted\">(no detail)</span>") : e(detail);
}

QString bucket_name(const ShiftFigures &f, int i)
{
    const qint64 start = f.buckets[i].start_wall_ms;
    return f.bucket_ms > hour_ms ? wall_text(start).left(10)
                                 : wall_text(start) + QStringLiteral("–") + wall_text(start + hour_ms).mid(11, 5);
}

QString slot_name(const ShiftFigures::Slot &s)
{
    return s.port.isNull() ? e(s.station) : e(s.station) + QStringLiteral(" / ") + e(s.port);
}

QStringList alerts(const ShiftFigures &f)
{
    QStringList items;
    for (const auto *slots : {&f.stations, &f.ports}) {
        for (const auto &s : *slots) {
            if (s.below)
                items << QStringLiteral("<b>%1</b>: yield %2, %3 points below the whole (%4): a cable, a hub or a "
                                        "station to look at.")
                             .arg(slot_name(s), percent_text(s.ok, s.operations),
                                  QString::number(percent(f.ok_records, f.records) - percent(s.ok, s.operations), 'f', 1),
                                  percent_text(f.ok_records, f.records));
        }
    }
    QStringList seen;
    for (const auto &image : f.images) {
        if (seen.contains(image.operation))
            continue;
        QStringList written;
        for (const auto &other : f.images)
            if (other.operation == image.operation && other.ok > 0)
                written << QStringLiteral("<code>%1</code> (%2) on %3")
                               .arg(e(other.sha256.left(12)), e(other.names.join(QStringLiteral(", "))),
                                    e(other.stations.join(QStringLiteral(", "))));
        seen << image.operation;
        if (written.size() > 1)
            items << QStringLiteral("%1 different <b>%2</b> images were written: %3.")
                         .arg(written.size()).arg(e(image.operation), written.join(QStringLiteral("; ")));
    }
    if (f.unreadable > 0)
        items << QStringLiteral("%1 rows of the journals could not be read; they are listed under Journal files.")
                     .arg(grouped(f.unreadable));
    return items;
}

QString yield_section(const ShiftFigures &f)
{
    QList<QStringList> rows;
    for (const auto &y : f.yields)
        rows << QStringList {e(y.operation), num + grouped(y.modules),
                             num + percent_text(y.first_pass, y.modules),
                             num + percent_text(y.final_pass, y.modules),
                             num + grouped(y.retests)};
    return QStringLiteral("<section><h2>Yield</h2>")
           + table({28, 18, 18, 18, 18}, {QStringLiteral("operation"), QStringLiteral("#modules"),
                                          QStringLiteral("#first pass"), QStringLiteral("#final"),
                                          QStringLiteral("#retested modules")},
                   rows)
           + QStringLiteral("<p class=\"muted\">First pass: the module's first record in the range was ok; final: "
                            "its last one was; for all operations, of each operation it went through. A module retested had more than one record of the same operation. "
                            "Records without a module identity (the module did not answer) count as operations only: "
                            "%1.</p></section>")
                 .arg(grouped(f.without_identity));
}

QString throughput_section(const ShiftFigures &f)
{
    QString html = QStringLiteral("<section><h2>Throughput</h2>");
    if (f.buckets.isEmpty())
        return html + QStringLiteral("<p>No records.</p></section>");
    const qint64 days = f.bucket_ms / (24 * hour_ms);
    const QString unit = days > 1 ? QStringLiteral("%1 days").arg(days) : days == 1 ? QStringLiteral("day") : QStringLiteral("hour");
    html += QStringLiteral("<p><b>%1</b> modules an hour on average. Busiest %2: <b>%3</b> (%4 modules); quietest: %5 "
                           "(%6).</p>")
                .arg(QString::number(f.modules_per_hour, 'f', 1), unit, bucket_name(f, f.busiest),
                     grouped(f.buckets[f.busiest].modules), bucket_name(f, f.quietest),
                     grouped(f.buckets[f.quietest].modules));
    html += throughput_chart(f);
    html += QStringLiteral("<p class=\"muted\">Modules per %1 from %2 to %3 (local time as the stations wrote it); a "
                           "module counts in the %1 of its first record.</p></section>")
                .arg(unit, wall_text(f.from_wall_ms), wall_text(f.to_wall_ms));
    return html;
}

// The modules still failed at the end of the range: the ones to find on the
// bench.
QString failed_modules(const ShiftFigures &f)
{
    if (f.failed_modules == 0)
        return QStringLiteral("<p>Every module's last record of each operation was ok.</p>");
    QList<QStringList> rows;
    for (const auto &m : f.failed_module_rows)
        rows << QStringList {e(m.device_number), e(m.imei_or_mac), wall_text(m.wall_ms), e(m.operation),
                             detail_text(m.detail), e(m.station) + QStringLiteral(" / ") + e(m.port)};
    QString shown;
    if (f.failed_modules > quint64(rows.size()))
        shown = QStringLiteral(" (the first %1 by time)").arg(rows.size());
    return QStringLiteral("<h3>%1 modules whose last record of an operation failed%2</h3>").arg(grouped(f.failed_modules), shown)
           + table({17, 17, 14, 11, 23, 18}, {QStringLiteral("device number"), QStringLiteral("IMEI or MAC"),
                                             QStringLiteral("last record"), QStringLiteral("operation"),
                                             QStringLiteral("detail"), QStringLiteral("station / port")},
                   rows);
}

QString failure_section(const ShiftFigures &f)
{
    QString html = QStringLiteral("<section><h2>Failures</h2>");
    if (f.failures.isEmpty())
        return html + QStringLiteral("<p>No failed records.</p></section>");
    html += QStringLiteral("<p><b>%1</b> failed records, %2 of all.</p>")
                .arg(grouped(f.failed_records), percent_text(f.failed_records, f.records));
    html += pareto_chart(f, pareto_bars);
    QList<QStringList> rows;
    quint64 cumulative = 0;
    for (int i = 0; i < std::min(f.failures.size(), failure_rows); ++i) {
        cumulative += f.failures[i].count;
        rows << QStringList {num + QString::number(i + 1), detail_text(f.failures[i].name),
                             num + grouped(f.failures[i].count),
                             num + percent_text(f.failures[i].count, f.failed_records),
                             num + percent_text(cumulative, f.failed_records)};
    }
    html += table({7, 51, 14, 14, 14}, {QStringLiteral("#no."), QStringLiteral("detail"), QStringLiteral("#records"),
                                        QStringLiteral("#share"), QStringLiteral("#cumulative")},
                  rows);
    if (f.failures.size() > failure_rows) {
        quint64 rest = 0;
        for (int i = failure_rows; i < f.failures.size(); ++i)
            rest += f.failures[i].count;
        html += QStringLiteral("<p>%1 more details with %2 records in all (all of them in --json).</p>")
                    .arg(grouped(quint64(f.failures.size() - failure_rows)), grouped(rest));
    }
    if (f.failures.size() > pareto_bars)
        html += QStringLiteral("<p class=\"muted\">The chart shows the first %1 details.</p>").arg(pareto_bars);
    return html + failed_modules(f) + QStringLiteral("</section>");
}

QString slot_table(const QVector<ShiftFigures::Slot> &slots, bool ports)
{
    QList<QStringList> rows;
    QStringList classes;
    for (const auto &s : slots) {
        const double pct = percent(s.ok, s.operations);
        QString yield = QStringLiteral("<span class=\"meter\"><span style=\"width:%1%\"></span></span>%2")
                            .arg(QString::number(pct, 'f', 1), percent_text(s.ok, s.operations));
        if (s.below)
            yield += QStringLiteral(" <span class=\"flag\">▼ low</span>");
        QStringList row {e(s.station)};
        if (ports)
            row << e(s.port);
        row << num + grouped(s.operations) << num + yield
            << num + QString::number(s.median_ms) << num + QString::number(s.p95_ms);
        rows << row;
        classes << (s.below ? QStringLiteral("below") : QString());
    }
    QStringList headers {QStringLiteral("station")};
    if (ports)
        headers << QStringLiteral("port");
    headers << QStringLiteral("#operations") << QStringLiteral("#yield") << QStringLiteral("#median ms")
            << QStringLiteral("#p95 ms");
    return table(ports ? QList<int> {22, 18, 13, 21, 13, 13} : QList<int> {32, 15, 23, 15, 15}, headers, rows, classes);
}

QString image_section(const ShiftFigures &f)
{
    QString html = QStringLiteral("<section><h2>Images</h2>");
    if (f.images.isEmpty())
        return html + QStringLiteral("<p>No image was sent.</p></section>");
    QList<QStringList> rows;
    for (const auto &i : f.images) {
        QString names = e(i.names.join(QStringLiteral(", ")));
        if (i.more_names)
            names += QStringLiteral(", …");
        rows << QStringList {e(i.operation), QStringLiteral("<code title=\"%1\">%2…</code>").arg(e(i.sha256), e(i.sha256.left(12))),
                             names, num + (i.bytes < 0 ? QStringLiteral("–") : grouped(quint64(i.bytes))),
                             num + grouped(i.modules),
                             num + QStringLiteral("%1 / %2").arg(grouped(i.ok), grouped(i.failed)),
                             e(i.stations.join(QStringLiteral(", ")))};
    }
    return html
           + table({10, 14, 22, 12, 10, 11, 21}, {QStringLiteral("operation"), QStringLiteral("SHA-256"),
                                                  QStringLiteral("file"), QStringLiteral("#bytes"),
                                                  QStringLiteral("#modules"), QStringLiteral("#ok / failed"),
                                                  QStringLiteral("written on")},
                   rows)
           + QStringLiteral("<p class=\"muted\">Modules: modules written with the image (ok). More than one image "
                            "for an operation is shown at the top of the page.</p></section>");
}

QString files_section(const ShiftFigures &f)
{
    QList<QStringList> rows;
    for (const auto &file : f.files)
        rows << QStringList {e(file.path), e(file.station), num + grouped(file.records),
                             num + grouped(file.unreadable)};
    QString html = QStringLiteral("<section><h2>Journal files</h2>")
                   + table({52, 20, 14, 14}, {QStringLiteral("file"), QStringLiteral("station"),
                                              QStringLiteral("#records in range"), QStringLiteral("#unreadable rows")},
                           rows);
    if (!f.unreadable_rows.isEmpty()) {
        QList<QStringList> bad;
        for (const auto &u : f.unreadable_rows)
            bad << QStringList {e(u.file), num + QString::number(u.line), e(u.reason)};
        html += QStringLiteral("<p>Rows that could not be read%1:</p>")
                    .arg(f.unreadable > quint64(f.unreadable_rows.size())
                             ? QStringLiteral(" (the first %1 of %2)").arg(f.unreadable_rows.size()).arg(grouped(f.unreadable))
                             : QString())
                + table({52, 14, 34}, {QStringLiteral("file"), QStringLiteral("#line"), QStringLiteral("why")}, bad);
    }
    return html + QStringLiteral("</section>");
}

} // namespace

QByteArray report_page(const ShiftFigures &f, const QDateTime &made)
{
    const QString range = f.buckets.isEmpty() ? QStringLiteral("no records")
                                              : wall_text(f.from_wall_ms) + QStringLiteral(" – ") + wall_text(f.to_wall_ms);
    QString html = QStringLiteral("<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
                                  "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
                                  "<title>Shift report %1</title><style>%2</style></head><body>\n")
                       .arg(range, QString::fromUtf8(style));
    html += QStringLiteral("<header><h1>Shift report</h1><p class=\"muted\">%1 · stations: %2 · journal files: %3</p></header>\n")
                .arg(range).arg(f.stations.size()).arg(f.files.size());
    const QStringList warnings = alerts(f);
    if (!warnings.isEmpty())
        html += QStringLiteral("<ul class=\"alerts\"><li>") + warnings.join(QStringLiteral("</li><li>")) + QStringLiteral("</li></ul>\n");
    const ShiftFigures::Yield all = f.yields.value(0);
    html += QStringLiteral("<section class=\"tiles\">")
            + tile(grouped(f.modules), QStringLiteral("modules"))
            + tile(percent_text(all.first_pass, all.modules), QStringLiteral("first-pass yield"))
            + tile(percent_text(all.final_pass, all.modules), QStringLiteral("final yield"))
            + tile(grouped(all.retests), QStringLiteral("modules retested"))
            + tile(QString::number(f.modules_per_hour, 'f', 1), QStringLiteral("modules an hour"))
            + tile(grouped(f.records), QStringLiteral("records"))
            + tile(grouped(f.failed_records), QStringLiteral("failed records"))
            + tile(grouped(f.unreadable), QStringLiteral("unreadable rows")) + QStringLiteral("</section>\n");
    QStringList operations;
    for (const auto &c : f.operations)
        operations << QStringLiteral("%1 %2").arg(grouped(c.count), e(c.name));
    if (!operations.isEmpty())
        html += QStringLiteral("<p>Operations: %1.</p>\n").arg(operations.join(QStringLiteral(", ")));
    html += yield_section(f) + throughput_section(f) + failure_section(f);
    html += QStringLiteral("<section><h2>Stations and slots</h2><p>Yield here is the share of operations that ended ok; "
                           "the whole's is %1. A station or port more than %2 points below it is marked.</p>")
                .arg(percent_text(f.ok_records, f.records))
                .arg(below_points)
            + slot_table(f.stations, false) + slot_table(f.ports, true) + QStringLiteral("</section>\n");
    html += image_section(f) + files_section(f);
    html += QStringLiteral("<footer><p class=\"muted\">kv20-cli report, %1.</p></footer>\n</body></html>\n")
                .arg(made.toString(QStringLiteral("yyyy-MM-dd HH:mm")));
    return html.toUtf8();
}
