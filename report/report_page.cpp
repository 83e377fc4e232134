#include "report/report_page.h"

#include "report/html_text.h"
#include "report/report_json.h"
#include "report/svg_charts.h"
#include "journal/journal_time.h"

#include <QCoreApplication>

#include <algorithm>

namespace {

// The page's words go through the catalogue: English as written here, the
// station's Chinese from its catalogue. Journal texts never do.
QString words(const char *english)
{
    return QCoreApplication::translate("ShiftReportPage", english);
}

// A header of figures (right-aligned), as table() takes it.
QString figure_header(const char *english)
{
    return QLatin1Char('#') + words(english);
}

QString page_place(const QString &name, bool by_slot)
{
    return place_text(name, by_slot, words("slot %1"), words("port %1"));
}

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
svg text.cause{font-size:11px}
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

// A table cell: text (from a journal or not) or markup made here; a figure
// is right-aligned.
struct Cell
{
    Cell(const QString &text) { content.text(text); }
    Cell(Markup markup) : content(std::move(markup)) {}
    Markup content;
    bool figure = false;
};
using Row = QVector<Cell>;

Cell figure(Cell cell)
{
    cell.figure = true;
    return cell;
}

// Column widths in percent; a header starting with '#' heads figures.
void table(Markup *page, const QList<int> &widths, const QStringList &headers, const QList<Row> &rows,
           const QStringList &row_classes = {})
{
    page->open("table").open("colgroup");
    for (const int w : widths)
        page->empty("col", {{"style", QStringLiteral("width:%1%").arg(w)}});
    page->close("colgroup").open("thead").open("tr");
    for (const QString &h : headers) {
        const bool numeric = h.startsWith(QLatin1Char('#'));
        page->element("th", {{"class", numeric ? QStringLiteral("n") : QString()}}, numeric ? h.mid(1) : h);
    }
    page->close("tr").close("thead").open("tbody");
    for (int i = 0; i < rows.size(); ++i) {
        page->open("tr", {{"class", row_classes.value(i)}});
        for (const Cell &cell : rows[i])
            page->open("td", {{"class", cell.figure ? QStringLiteral("n") : QString()}}).add(cell.content).close("td");
        page->close("tr");
    }
    page->close("tbody").close("table");
}

void tile(Markup *page, const QString &figure, const QString &label)
{
    page->open("div", {{"class", "tile"}})
        .element("span", {{"class", "figure"}}, figure)
        .element("span", {{"class", "label"}}, label)
        .close("div");
}

Markup detail_text(const QString &detail)
{
    Markup m;
    return detail.isEmpty() ? m.element("span", {{"class", "muted"}}, words("(no detail)")) : m.text(detail);
}

QString bucket_name(const ShiftFigures &f, int i)
{
    const qint64 start = f.buckets[i].start_wall_ms;
    return f.bucket_ms > hour_ms ? wall_text(start).left(10)
                                 : wall_text(start) + QStringLiteral("–") + wall_text(start + hour_ms).mid(11, 5);
}

QString slot_name(const ShiftFigures::Slot &s)
{
    return s.port.isNull() ? s.station : s.station + QStringLiteral(" / ") + page_place(s.port, s.by_slot);
}

QList<Markup> alerts(const ShiftFigures &f)
{
    QList<Markup> items;
    for (const auto *places : {&f.stations, &f.ports}) {
        for (const auto &s : *places) {
            if (!s.below)
                continue;
            Markup item;
            item.element("b", slot_name(s))
                .text(words(": yield %1, %2 points below the whole (%3): a cable, a hub or a station to look at.")
                          .arg(percent_text(s.ok, s.operations),
                               QString::number(percent(f.ok_records, f.records) - percent(s.ok, s.operations), 'f', 1),
                               percent_text(f.ok_records, f.records)));
            items << item;
        }
    }
    QStringList seen;
    for (const auto &image : f.images) {
        if (seen.contains(image.operation))
            continue;
        seen << image.operation;
        Markup written;
        int count = 0;
        for (const auto &other : f.images) {
            if (other.operation != image.operation || other.ok == 0)
                continue;
            if (count++ > 0)
                written.text(QStringLiteral("; "));
            written.element("code", other.sha256.left(12))
                .text(words(" (%1) on %2").arg(other.names.join(QStringLiteral(", ")),
                                                         other.stations.join(QStringLiteral(", "))));
        }
        if (count > 1) {
            Markup item;
            item.text(words("%1 different ").arg(count)).element("b", image.operation).text(words(" images were written: "))
                .add(written).text(QStringLiteral("."));
            items << item;
        }
    }
    if (f.unreadable > 0) {
        Markup item;
        item.text(words("%1 rows of the journals could not be read; they are listed under Journal files.")
                      .arg(grouped(f.unreadable)));
        items << item;
    }
    return items;
}

void yield_section(Markup *page, const ShiftFigures &f)
{
    QList<Row> rows;
    for (const auto &y : f.yields)
        rows << Row {y.operation, figure(grouped(y.modules)), figure(percent_text(y.first_pass, y.modules)),
                     figure(percent_text(y.final_pass, y.modules)), figure(grouped(y.retests))};
    page->open("section").element("h2", words("Yield"));
    table(page, {28, 18, 18, 18, 18}, {words("operation"), figure_header("modules"), figure_header("first pass"),
                                      figure_header("final"), figure_header("retested modules")},
          rows);
    page->element("p", {{"class", "muted"}},
                  words("First pass: the module's first record in the range was ok; final: its last one was; "
                                 "for all operations, of each operation it went through. A module retested had more "
                                 "than one record of the same operation. Records without a module identity (the module "
                                 "did not answer) count as operations only: %1.")
                      .arg(grouped(f.without_identity)))
        .close("section");
}

void throughput_section(Markup *page, const ShiftFigures &f)
{
    page->open("section").element("h2", words("Throughput"));
    if (f.buckets.isEmpty()) {
        page->element("p", words("No records.")).close("section");
        return;
    }
    const qint64 days = f.bucket_ms / (24 * hour_ms);
    const QString unit = days > 1 ? words("%1 days").arg(days) : days == 1 ? words("day") : words("hour");
    page->open("p")
        .element("b", QString::number(f.modules_per_hour, 'f', 1))
        .text(words(" modules an hour on average. Busiest %1: ").arg(unit))
        .element("b", bucket_name(f, f.busiest))
        .text(words(" (%1 modules); quietest: %2 (%3).")
                  .arg(grouped(f.buckets[f.busiest].modules), bucket_name(f, f.quietest), grouped(f.buckets[f.quietest].modules)))
        .close("p")
        .add(throughput_chart(f))
        .element("p", {{"class", "muted"}},
                 words("Modules per %1 from %2 to %3 (local time as the stations wrote it); a module counts in "
                                "the %1 of its first record.")
                     .arg(unit, wall_text(f.from_wall_ms), wall_text(f.to_wall_ms)))
        .close("section");
}

// The modules still failed at the end of the range: the ones to find on the
// bench.
void failed_modules(Markup *page, const ShiftFigures &f)
{
    if (f.failed_modules == 0) {
        page->element("p", words("Every module's last record of each operation was ok."));
        return;
    }
    QList<Row> rows;
    for (const auto &m : f.failed_module_rows)
        rows << Row {m.device_number, m.imei_or_mac, wall_text(m.wall_ms), m.operation, detail_text(m.detail),
                     m.station + QStringLiteral(" / ") + page_place(m.port, m.by_slot)};
    page->element("h3", words("%1 modules whose last record of an operation failed%2")
                            .arg(grouped(f.failed_modules), f.failed_modules > quint64(rows.size())
                                                                ? words(" (the first %1 by time)").arg(rows.size())
                                                                : QString()));
    table(page, {17, 17, 14, 11, 23, 18}, {words("device number"), words("IMEI or MAC"),
                                           words("last record"), words("operation"),
                                           words("detail"), words("station / slot or port")},
          rows);
}

void failure_section(Markup *page, const ShiftFigures &f)
{
    page->open("section").element("h2", words("Failures"));
    if (f.failures.isEmpty()) {
        page->element("p", words("No failed records.")).close("section");
        return;
    }
    page->open("p")
        .element("b", grouped(f.failed_records))
        .text(words(" failed records, %1 of all.").arg(percent_text(f.failed_records, f.records)))
        .close("p")
        .add(pareto_chart(f, pareto_bars));
    QList<Row> rows;
    quint64 cumulative = 0;
    for (int i = 0; i < std::min(f.failures.size(), failure_rows); ++i) {
        cumulative += f.failures[i].count;
        rows << Row {figure(QString::number(i + 1)), detail_text(f.failures[i].name), figure(grouped(f.failures[i].count)),
                     figure(percent_text(f.failures[i].count, f.failed_records)),
                     figure(percent_text(cumulative, f.failed_records))};
    }
    table(page, {7, 51, 14, 14, 14}, {figure_header("no."), words("detail"), figure_header("records"),
                                      figure_header("share"), figure_header("cumulative")},
          rows);
    if (f.failures.size() > failure_rows) {
        quint64 rest = 0;
        for (int i = failure_rows; i < f.failures.size(); ++i)
            rest += f.failures[i].count;
        page->element("p", words("%1 more details with %2 records in all (all of them in --json).")
                               .arg(grouped(quint64(f.failures.size() - failure_rows)), grouped(rest)));
    }
    if (f.failures.size() > pareto_bars)
        page->element("p", {{"class", "muted"}}, words("The chart shows the first %1 details.").arg(pareto_bars));
    failed_modules(page, f);
    page->close("section");
}

void slot_table(Markup *page, const QVector<ShiftFigures::Slot> &places, bool ports)
{
    QList<Row> rows;
    QStringList classes;
    for (const auto &s : places) {
        Markup yield;
        yield.open("span", {{"class", "meter"}})
            .open("span", {{"style", QStringLiteral("width:%1%").arg(QString::number(percent(s.ok, s.operations), 'f', 1))}})
            .close("span")
            .close("span")
            .text(percent_text(s.ok, s.operations));
        if (s.below)
            yield.text(QStringLiteral(" ")).element("span", {{"class", "flag"}}, words("▼ low"));
        Row row {s.station};
        if (ports)
            row << page_place(s.port, s.by_slot);
        row << figure(grouped(s.operations)) << figure(yield) << figure(QString::number(s.median_ms))
            << figure(QString::number(s.p95_ms));
        if (!ports)
            row << figure(grouped(s.refused));
        rows << row;
        classes << (s.below ? QStringLiteral("below") : QString());
    }
    QStringList headers {words("station")};
    if (ports)
        headers << words("slot / port");
    headers << figure_header("operations") << figure_header("yield") << figure_header("median ms")
            << figure_header("p95 ms");
    if (!ports)
        headers << figure_header("refused");
    table(page, ports ? QList<int> {22, 18, 13, 21, 13, 13} : QList<int> {28, 14, 22, 12, 12, 12}, headers, rows, classes);
}

// Who served and for which work order: only where some record names one.
void served_by_section(Markup *page, const ShiftFigures &f)
{
    const auto named = [](const QVector<ShiftFigures::ServedBy> &served) {
        return std::any_of(served.begin(), served.end(), [](const auto &b) { return !b.name.isEmpty(); });
    };
    if (!named(f.operators) && !named(f.work_orders))
        return;
    page->open("section").element("h2", words("Operators and work orders"));
    for (const auto &[title, served] : {std::make_pair(words("operator"), &f.operators),
                                        std::make_pair(words("work order"), &f.work_orders)}) {
        if (!named(*served))
            continue;
        QList<Row> rows;
        for (const auto &b : *served) {
            Markup name;
            if (b.name.isEmpty())
                name.element("span", {{"class", "muted"}}, words("(none)"));
            else
                name.text(b.name);
            rows << Row {name, figure(grouped(b.modules)), figure(percent_text(b.first_pass, b.modules)),
                         figure(percent_text(b.final_pass, b.modules)),
                         figure(QString::number(b.modules_per_hour(), 'f', 1)), figure(grouped(b.records)),
                         figure(grouped(b.refused)), figure(grouped(b.again))};
        }
        table(page, {23, 11, 11, 11, 11, 11, 11, 11},
              {title, figure_header("modules"), figure_header("first pass"), figure_header("final"),
               figure_header("an hour"), figure_header("records"), figure_header("refused"), figure_header("again")},
              rows);
    }
    page->element("p", {{"class", "muted"}},
                  words("A module counts for the operator and the work order of its first record; an hour is an hour "
                        "with their records. Refused: done before, not served, in no yield. Again: served again, "
                        "among the records."))
        .close("section");
}

// The recipes and images each station's records were made under, by time:
// a recipe changed during the range is a second row of the station.
void made_under_section(Markup *page, const ShiftFigures &f)
{
    if (f.made_under.isEmpty())
        return;
    QList<Row> rows;
    QStringList classes;
    for (int i = 0; i < f.made_under.size(); ++i) {
        const auto &m = f.made_under[i];
        const auto digest = [](const QString &sha) {
            Markup m;
            return sha.isEmpty() ? m.element("span", {{"class", "muted"}}, QStringLiteral("–"))
                                 : m.element("code", {{"title", sha}}, sha.left(12) + QStringLiteral("…"));
        };
        rows << Row {m.station, digest(m.recipe_sha256), digest(m.image_sha256), figure(grouped(m.records)),
                     wall_text(m.first_wall_ms), wall_text(m.last_wall_ms)};
        const bool changed = (i > 0 && f.made_under[i - 1].station == m.station)
                             || (i + 1 < f.made_under.size() && f.made_under[i + 1].station == m.station);
        classes << (changed ? QStringLiteral("below") : QString());
    }
    page->open("section").element("h2", words("Recipes and images"));
    table(page, {22, 17, 17, 12, 16, 16},
          {words("station"), words("recipe"), words("image"), figure_header("records"), words("first record"),
           words("last record")},
          rows, classes);
    page->element("p", {{"class", "muted"}},
                  words("Marked: a station whose records were made under more than one recipe or image."))
        .close("section");
}

// The passes whose label never printed: modules that left without the
// label that ties them to their record. Only where stations print labels.
void label_section(Markup *page, const ShiftFigures &f)
{
    if (f.label_passes == 0)
        return;
    page->open("section").element("h2", words("Labels"));
    if (f.unlabelled == 0) {
        page->element("p", words("Every one of the %1 passes with a label due had it printed.").arg(grouped(f.label_passes)))
            .close("section");
        return;
    }
    QList<Row> rows;
    for (const auto &u : f.unlabelled_rows)
        rows << Row {u.device_number, u.imei_or_mac, wall_text(u.wall_ms),
                     u.given_up ? words("given up: %1").arg(u.detail) : words("waiting"),
                     u.station + QStringLiteral(" / ") + page_place(u.slot, true)};
    page->element("h3", words("%1 of %2 passes whose label never printed%3")
                            .arg(grouped(f.unlabelled), grouped(f.label_passes),
                                 f.unlabelled > quint64(rows.size()) ? words(" (the first %1 by time)").arg(rows.size())
                                                                     : QString()));
    table(page, {20, 20, 16, 24, 20},
          {words("device number"), words("IMEI or MAC"), words("pass"), words("label"), words("station / slot or port")},
          rows);
    page->close("section");
}

void image_section(Markup *page, const ShiftFigures &f)
{
    page->open("section").element("h2", words("Images"));
    if (f.images.isEmpty()) {
        page->element("p", words("No image was sent.")).close("section");
        return;
    }
    QList<Row> rows;
    for (const auto &i : f.images) {
        Markup sha;
        sha.element("code", {{"title", i.sha256}}, i.sha256.left(12) + QStringLiteral("…"));
        rows << Row {i.operation, sha, i.names.join(QStringLiteral(", ")) + (i.more_names ? QStringLiteral(", …") : QString()),
                     figure(i.bytes < 0 ? QStringLiteral("–") : grouped(quint64(i.bytes))), figure(grouped(i.modules)),
                     figure(QStringLiteral("%1 / %2").arg(grouped(i.ok), grouped(i.failed))),
                     i.stations.join(QStringLiteral(", "))};
    }
    table(page, {10, 14, 22, 12, 10, 11, 21}, {words("operation"), QStringLiteral("SHA-256"), words("file"),
                                               figure_header("bytes"), figure_header("modules"),
                                               figure_header("ok / failed"), words("written on")},
          rows);
    page->element("p", {{"class", "muted"}},
                  words("Modules: modules written with the image (ok). More than one image for an operation is "
                                 "shown at the top of the page."))
        .close("section");
}

void files_section(Markup *page, const ShiftFigures &f)
{
    QList<Row> rows;
    for (const auto &file : f.files)
        rows << Row {file.path, file.station, figure(grouped(file.records)), figure(grouped(file.unreadable))};
    page->open("section").element("h2", words("Journal files"));
    table(page, {52, 20, 14, 14}, {words("file"), words("station"), figure_header("records in range"),
                                   figure_header("unreadable rows")},
          rows);
    if (!f.unreadable_rows.isEmpty()) {
        QList<Row> bad;
        for (const auto &u : f.unreadable_rows)
            bad << Row {u.file, figure(QString::number(u.line)), u.reason};
        page->element("p", words("Rows that could not be read%1:")
                               .arg(f.unreadable > quint64(f.unreadable_rows.size())
                                        ? words(" (the first %1 of %2)").arg(QString::number(f.unreadable_rows.size()),
                                                                                      grouped(f.unreadable))
                                        : QString()));
        table(page, {52, 14, 34}, {words("file"), figure_header("line"), words("why")}, bad);
    }
    page->close("section");
}

} // namespace

QByteArray report_page(const ShiftFigures &f, const QDateTime &made)
{
    const QString range = f.buckets.isEmpty() ? words("no records")
                                              : wall_text(f.from_wall_ms) + QStringLiteral(" – ") + wall_text(f.to_wall_ms);
    Markup page;
    page.literal("<!DOCTYPE html>\n")
        .open("html", {{"lang", words("en")}})
        .open("head")
        .empty("meta", {{"charset", "utf-8"}})
        .empty("meta", {{"name", "viewport"}, {"content", "width=device-width, initial-scale=1"}})
        .element("title", words("Shift report ") + range)
        .open("style")
        .literal(style)
        .close("style")
        .close("head")
        .open("body")
        .literal("\n")
        .open("header")
        .element("h1", words("Shift report"))
        .element("p", {{"class", "muted"}},
                 words("%1 · stations: %2 · journal files: %3")
                     .arg(range, QString::number(f.stations.size()), QString::number(f.files.size())))
        .close("header")
        .literal("\n");
    const QList<Markup> warnings = alerts(f);
    if (!warnings.isEmpty()) {
        page.open("ul", {{"class", "alerts"}});
        for (const Markup &warning : warnings)
            page.open("li").add(warning).close("li");
        page.close("ul").literal("\n");
    }
    const ShiftFigures::Yield all = f.yields.value(0);
    page.open("section", {{"class", "tiles"}});
    tile(&page, grouped(f.modules), words("modules"));
    tile(&page, percent_text(all.first_pass, all.modules), words("first-pass yield"));
    tile(&page, percent_text(all.final_pass, all.modules), words("final yield"));
    tile(&page, grouped(all.retests), words("modules retested"));
    tile(&page, QString::number(f.modules_per_hour, 'f', 1), words("modules an hour"));
    tile(&page, grouped(f.records), words("records"));
    tile(&page, grouped(f.failed_records), words("failed records"));
    tile(&page, grouped(f.unreadable), words("unreadable rows"));
    page.close("section").literal("\n");
    QStringList operations;
    for (const auto &c : f.operations)
        operations << grouped(c.count) + QLatin1Char(' ') + c.name;
    if (!operations.isEmpty())
        page.element("p", words("Operations: ") + operations.join(QStringLiteral(", ")) + QLatin1Char('.')).literal("\n");
    yield_section(&page, f);
    throughput_section(&page, f);
    failure_section(&page, f);
    page.open("section")
        .element("h2", words("Stations and slots"))
        .element("p", words("Yield here is the share of operations that ended ok; the whole's is %1. A station or "
                                     "slot or port more than %2 points below it is marked.")
                          .arg(percent_text(f.ok_records, f.records), QString::number(below_points)));
    slot_table(&page, f.stations, false);
    slot_table(&page, f.ports, true);
    page.close("section").literal("\n");
    served_by_section(&page, f);
    made_under_section(&page, f);
    label_section(&page, f);
    image_section(&page, f);
    files_section(&page, f);
    page.open("footer")
        .element("p", {{"class", "muted"}},
                 words("kv20-cli report, %1.").arg(made.toString(QStringLiteral("yyyy-MM-dd HH:mm"))))
        .close("footer")
        .literal("\n")
        .close("body")
        .close("html")
        .literal("\n");
    return page.html().toUtf8();
}
