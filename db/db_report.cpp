#include "db/db_report.h"

#include "db/pg_link.h"
#include "journal/journal_row.h"
#include "journal/label_journal.h"
#include "report/shift_tally.h"

#include <QDateTime>

#include <cstring>
#include <string>

namespace {

// The report's columns, in the order of report_columns. A copy rather than a
// cursor: the rows stream while the tally takes them, with no round trip per
// batch and no result gathered in memory. In no order: the tally's figures do
// not depend on it, and ordering a million rows (a sort, or an index walked
// row by row) took twice as long as the rest of the report.
QByteArray copy_sql()
{
    QByteArray names;
    for (const journal_format::Column c : report_columns) {
        if (!names.isEmpty())
            names += ", ";
        names += QByteArray(journal_format::columns[c].name.data(), int(journal_format::columns[c].name.size()));
    }
    return "COPY (SELECT " + names
           + " FROM kv20_records"
             " WHERE (%1::timestamp IS NULL OR wall_time >= %1::timestamp)"
             " AND (%2::timestamp IS NULL OR wall_time < %2::timestamp)"
             " AND (%3::text[] IS NULL OR station = ANY(%3::text[]))) TO STDOUT";
}

constexpr int columns = int(sizeof report_columns / sizeof report_columns[0]);

QByteArray timestamp(bool given, qint64 wall_ms)
{
    if (!given)
        return QByteArray();
    return QDateTime::fromMSecsSinceEpoch(wall_ms, Qt::UTC).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")).toLatin1();
}

QByteArray text_array(const QStringList &names)
{
    if (names.isEmpty())
        return QByteArray();
    std::vector<QByteArray> values;
    for (const QString &name : names)
        values.push_back(name.toUtf8());
    return PgLink::text_array(values);
}

// One line of COPY's text format into its fields: tabs between them, \\N for
// NULL, and a backslash before what would break the line up (the fields
// are the journal's values, which may hold any of these), so a raw tab is
// always a boundary. A field without a backslash stays a view into the line.
// False when the line does not have `columns` fields.
bool split_copy_line(const char *line, int length, std::vector<std::string_view> *fields, std::string *scratch)
{
    fields->resize(columns);
    if (length > 0 && line[length - 1] == '\n')
        --length;
    const char *at = line, *const end = line + length;
    for (int field = 0; field < columns; ++field) {
        const char *tab = static_cast<const char *>(std::memchr(at, '\t', size_t(end - at)));
        if (!tab && field + 1 < columns)
            return false;
        const std::string_view raw(at, size_t((tab ? tab : end) - at));
        at = tab ? tab + 1 : end;
        // NULL (an image_bytes of none) reads as the journal's empty field.
        if (raw == "\\N" || raw.find('\\') == std::string_view::npos) {
            (*fields)[size_t(field)] = raw == "\\N" ? std::string_view() : raw;
            continue;
        }
        std::string &out = scratch[field];
        out.clear();
        for (size_t i = 0; i < raw.size(); ++i) {
            char c = raw[i];
            if (c == '\\' && i + 1 < raw.size()) {
                switch (raw[++i]) {
                case 'b': c = '\b'; break;
                case 'f': c = '\f'; break;
                case 'n': c = '\n'; break;
                case 'r': c = '\r'; break;
                case 't': c = '\t'; break;
                case 'v': c = '\v'; break;
                default: c = raw[i];
                }
            }
            out += c;
        }
        (*fields)[size_t(field)] = out;
    }
    return true;
}

} // namespace

bool read_database_records(PgLink *link, bool from_given, qint64 from_wall_ms, bool to_given, qint64 to_wall_ms,
                           const QStringList &stations, ShiftTally *tally, int file, QString *error)
{
    const QByteArray from = link->literal(timestamp(from_given, from_wall_ms)),
                     to = link->literal(timestamp(to_given, to_wall_ms)), names = link->literal(text_array(stations));
    if (from.isNull() || to.isNull() || names.isNull()) {
        *error = QStringLiteral("a station name the database cannot take");
        return false;
    }
    // The station names last: nothing after them is replaced.
    const QByteArray sql = copy_sql().replace("%1", from).replace("%2", to).replace("%3", names);
    // Held to the journal's own rule, values as the database keeps them.
    JournalColumns rule;
    rule.read_in_order(report_columns, size_t(columns));
    JournalScanner::Row fields;
    std::string scratch[columns];
    JournalRow row;
    qint64 number = 0;
    const PgLink::Result r = link->copy_out(sql.constData(), [&](const char *line, int length) {
        ++number;
        const char *reason = split_copy_line(line, length, &fields.fields, scratch) ? rule.parse(fields, &row)
                                                                                    : "too few fields";
        if (!reason)
            reason = tally->add(row, file);
        if (reason)
            tally->add_unreadable(file, number, reason);
    });
    if (!r.ok)
        *error = r.error;
    return r.ok;
}

bool read_database_label_events(PgLink *link, bool from_given, qint64 from_wall_ms, bool to_given, qint64 to_wall_ms,
                                const QStringList &stations, ShiftTally *tally, QString *error)
{
    QByteArray names;
    for (const std::string_view column : label_journal_format::columns)
        names += (names.isEmpty() ? "" : ", ") + QByteArray(column.data(), int(column.size()))
                 + (column == "record_id" ? "::text" : "");
    const QByteArray sql = "SELECT " + names
                           + " FROM kv20_label_events"
                             " WHERE ($1::timestamp IS NULL OR record_wall_time >= $1::timestamp)"
                             " AND ($2::timestamp IS NULL OR record_wall_time < $2::timestamp)"
                             " AND ($3::text[] IS NULL OR station = ANY($3::text[]))";
    const PgLink::Result r =
        link->exec(sql.constData(), {timestamp(from_given, from_wall_ms), timestamp(to_given, to_wall_ms), text_array(stations)});
    if (!r.ok) {
        *error = r.error;
        return false;
    }
    QStringList values;
    for (const std::vector<QByteArray> &row : r.rows) {
        values.clear();
        for (const QByteArray &value : row)
            values << QString::fromUtf8(value);
        tally->add_label_event(values);
    }
    return true;
}
