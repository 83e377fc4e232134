#include "report/report_text.h"

#include "report/html_text.h"
#include "report/report_json.h"
#include "journal/journal_time.h"

#include <QStringList>

#include <algorithm>

namespace {

// Marks a cell as a figure, right-aligned; one_line() keeps it out of any
// text from a journal.
const QLatin1Char num('\x01');

// Wide (CJK) characters count twice, as a terminal shows them.
int shown_width(const QString &text)
{
    int w = 0;
    for (const QChar c : text)
        w += c.unicode() >= 0x1100 && c.unicode() != 0x202F ? 2 : 1;
    return w;
}

// Columns padded to their widest cell.
QString columns(const QList<QStringList> &rows)
{
    QList<int> widths;
    for (const QStringList &row : rows)
        for (int i = 0; i < row.size(); ++i) {
            if (widths.size() <= i)
                widths << 0;
            widths[i] = std::max(widths[i], shown_width(row[i]) - (row[i].startsWith(num) ? 1 : 0));
        }
    QString out;
    for (const QStringList &row : rows) {
        QString line = QStringLiteral("  ");
        for (int i = 0; i < row.size(); ++i) {
            const bool figure = row[i].startsWith(num);
            const QString cell = figure ? row[i].mid(1) : row[i];
            const QString pad(widths[i] - shown_width(cell), QLatin1Char(' '));
            line += (figure ? pad + cell : cell + pad) + QStringLiteral("  ");
        }
        out += line.trimmed().prepend(QStringLiteral("  ")) + QLatin1Char('\n');
    }
    return out;
}

// A journal's text on one line, so that a line break in a field cannot
// forge a line of the summary.
QString one_line(const QString &text)
{
    QString out = text;
    for (QChar &c : out)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            c = QLatin1Char(' ');
    return out;
}

QString slot_lines(const QVector<ShiftFigures::Slot> &slots, bool ports)
{
    QList<QStringList> rows {{ports ? QStringLiteral("slot / port") : QStringLiteral("station"), num + QStringLiteral("operations"),
                              num + QStringLiteral("yield"), num + QStringLiteral("median ms"), num + QStringLiteral("p95 ms")}};
    if (!ports)
        rows[0] << num + QStringLiteral("refused");
    rows[0] << QString();
    for (const auto &s : slots) {
        rows << QStringList {one_line(ports ? s.station + QStringLiteral(" / ") + place_text(s.port, s.by_slot) : s.station),
                             num + QString::number(s.operations),
                             num + percent_text(s.ok, s.operations),
                             num + QString::number(s.median_ms), num + QString::number(s.p95_ms)};
        if (!ports)
            rows.last() << num + QString::number(s.refused);
        rows.last() << (s.below ? QStringLiteral("LOW") : QString());
    }
    return columns(rows);
}

} // namespace

QByteArray report_text(const ShiftFigures &f)
{
    QString out;
    const auto all = f.yields.value(0);
    out += f.buckets.isEmpty() ? QStringLiteral("Shift report: no records\n")
                               : QStringLiteral("Shift report %1 – %2\n").arg(wall_text(f.from_wall_ms), wall_text(f.to_wall_ms));
    QStringList operations;
    for (const auto &c : f.operations)
        operations << QString::number(c.count) + QLatin1Char(' ') + one_line(c.name);
    // One arg() for all: a "%1" in an operation's name is then text, not a
    // place for the next figure.
    out += QStringLiteral("  %1 records (%2), %3 modules, %4 records without identity, %5 unreadable rows\n")
               .arg(QString::number(f.records),
                    operations.isEmpty() ? QStringLiteral("none") : operations.join(QStringLiteral(", ")),
                    QString::number(f.modules), QString::number(f.without_identity), QString::number(f.unreadable));

    QList<QStringList> yields {{QStringLiteral("yield"), num + QStringLiteral("modules"), num + QStringLiteral("first pass"),
                                num + QStringLiteral("final"), num + QStringLiteral("retested")}};
    for (const auto &y : f.yields)
        yields << QStringList {one_line(y.operation), num + QString::number(y.modules),
                               num + percent_text(y.first_pass, y.modules),
                               num + percent_text(y.final_pass, y.modules),
                               num + QString::number(y.retests)};
    out += QLatin1Char('\n') + columns(yields);

    if (!f.buckets.isEmpty()) {
        const auto &busy = f.buckets[f.busiest], &quiet = f.buckets[f.quietest];
        out += QStringLiteral("\nThroughput: %1 modules an hour; busiest %2 (%3), quietest %4 (%5)\n")
                   .arg(QString::number(f.modules_per_hour, 'f', 1), wall_text(busy.start_wall_ms),
                        QString::number(busy.modules), wall_text(quiet.start_wall_ms), QString::number(quiet.modules));
    }
    if (!f.failures.isEmpty()) {
        QList<QStringList> rows {{QStringLiteral("failures by detail"), num + QStringLiteral("records"), num + QStringLiteral("cumulative")}};
        quint64 cumulative = 0;
        for (const auto &c : f.failures.mid(0, 20)) {
            cumulative += c.count;
            rows << QStringList {c.name.isEmpty() ? QStringLiteral("(no detail)") : one_line(c.name),
                                 num + QString::number(c.count),
                                 num + percent_text(cumulative, f.failed_records)};
        }
        out += QLatin1Char('\n') + columns(rows);
        if (f.failures.size() > 20)
            out += QStringLiteral("  ... and %1 more details\n").arg(f.failures.size() - 20);
    }
    if (f.failed_modules > 0) {
        QList<QStringList> rows {{QStringLiteral("failed in the end"), QStringLiteral("imei/mac"), QStringLiteral("last record"),
                                  QStringLiteral("detail"), QStringLiteral("where")}};
        for (const auto &m : f.failed_module_rows)
            rows << QStringList {one_line(m.device_number), one_line(m.imei_or_mac),
                                 wall_text(m.wall_ms) + QLatin1Char(' ') + one_line(m.operation), one_line(m.detail),
                                 one_line(m.station + QStringLiteral(" / ") + place_text(m.port, m.by_slot))};
        out += QLatin1Char('\n') + columns(rows);
        if (f.failed_modules > quint64(f.failed_module_rows.size()))
            out += QStringLiteral("  ... and %1 more\n").arg(f.failed_modules - quint64(f.failed_module_rows.size()));
    }
    if (f.label_passes > 0) {
        out += QStringLiteral("\nLabels: %1 of %2 passes' labels never printed\n").arg(f.unlabelled).arg(f.label_passes);
        if (f.unlabelled > 0) {
            QList<QStringList> rows {{QStringLiteral("label never printed"), QStringLiteral("imei/mac"),
                                      QStringLiteral("pass"), QStringLiteral("label"), QStringLiteral("where")}};
            for (const auto &u : f.unlabelled_rows)
                rows << QStringList {one_line(u.device_number), one_line(u.imei_or_mac), wall_text(u.wall_ms),
                                     one_line(u.given_up ? QStringLiteral("given up: ") + u.detail : QStringLiteral("waiting")),
                                     one_line(u.station + QStringLiteral(" / ") + place_text(u.slot, true))};
            out += columns(rows);
            if (f.unlabelled > quint64(f.unlabelled_rows.size()))
                out += QStringLiteral("  ... and %1 more\n").arg(f.unlabelled - quint64(f.unlabelled_rows.size()));
        }
    }
    out += QStringLiteral("\nYield of all operations: %1\n").arg(percent_text(f.ok_records, f.records));
    if (f.refused_records > 0 || f.again_records > 0)
        out += QStringLiteral("Done before: %1 refused (not served, in no yield), %2 served again\n")
                   .arg(f.refused_records)
                   .arg(f.again_records);
    // Only where some record names an operator or a work order.
    for (const auto &[title, served] : {std::make_pair(QStringLiteral("operator"), &f.operators),
                                        std::make_pair(QStringLiteral("work order"), &f.work_orders)}) {
        if (served->isEmpty() || (served->size() == 1 && served->first().name.isEmpty()))
            continue;
        QList<QStringList> rows {{title, num + QStringLiteral("modules"), num + QStringLiteral("first pass"),
                                  num + QStringLiteral("final"), num + QStringLiteral("an hour"),
                                  num + QStringLiteral("records"), num + QStringLiteral("refused"),
                                  num + QStringLiteral("again")}};
        for (const auto &b : *served)
            rows << QStringList {b.name.isEmpty() ? QStringLiteral("(none)") : one_line(b.name),
                                 num + QString::number(b.modules), num + percent_text(b.first_pass, b.modules),
                                 num + percent_text(b.final_pass, b.modules),
                                 num + QString::number(b.modules_per_hour(), 'f', 1), num + QString::number(b.records),
                                 num + QString::number(b.refused), num + QString::number(b.again)};
        out += QLatin1Char('\n') + columns(rows);
    }
    out += slot_lines(f.stations, false) + slot_lines(f.ports, true);
    if (!f.images.isEmpty()) {
        QList<QStringList> rows {{QStringLiteral("image"), QStringLiteral("sha256"), num + QStringLiteral("bytes"),
                                  num + QStringLiteral("modules"), QStringLiteral("written on")}};
        for (const auto &i : f.images)
            rows << QStringList {one_line(i.operation + QLatin1Char(' ') + i.names.join(QStringLiteral(", "))),
                                 one_line(i.sha256.left(12)), num + QString::number(i.bytes),
                                 num + QString::number(i.modules), one_line(i.stations.join(QStringLiteral(", ")))};
        out += QLatin1Char('\n') + columns(rows);
    }
    if (!f.made_under.isEmpty()) {
        QList<QStringList> rows {{QStringLiteral("made under"), QStringLiteral("recipe"), QStringLiteral("image"),
                                  num + QStringLiteral("records"), QStringLiteral("first"), QStringLiteral("last")}};
        const auto digest = [](const QString &sha) { return sha.isEmpty() ? QStringLiteral("-") : one_line(sha.left(12)); };
        for (const auto &m : f.made_under)
            rows << QStringList {one_line(m.station), digest(m.recipe_sha256), digest(m.image_sha256),
                                 num + QString::number(m.records), wall_text(m.first_wall_ms), wall_text(m.last_wall_ms)};
        out += QLatin1Char('\n') + columns(rows);
    }
    if (!f.unreadable_rows.isEmpty()) {
        out += QStringLiteral("\nUnreadable rows:\n");
        for (const auto &u : f.unreadable_rows)
            out += QStringLiteral("  %1:%2: %3\n").arg(one_line(u.file), QString::number(u.line), u.reason);
        if (f.unreadable > quint64(f.unreadable_rows.size()))
            out += QStringLiteral("  ... and %1 more\n").arg(f.unreadable - quint64(f.unreadable_rows.size()));
    }
    return out.toUtf8();
}
