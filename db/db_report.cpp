#include "db/db_report.h"

#include "db/pg_link.h"
#include "journal/journal_row.h"
#include "journal/journal_time.h"
#include "report/shift_tally.h"

#include <QDateTime>

namespace {

// The columns in the order JournalRow takes them below.
const char select_sql[] =
    "DECLARE kv20_report NO SCROLL CURSOR FOR"
    " SELECT time, port, operation, device_number, imei_or_mac, image, image_bytes, image_sha256, result, detail,"
    " duration_ms, station, slot FROM kv20_records"
    " WHERE ($1::timestamp IS NULL OR wall_time >= $1::timestamp)"
    " AND ($2::timestamp IS NULL OR wall_time < $2::timestamp)"
    " AND ($3::text[] IS NULL OR station = ANY($3::text[]))"
    // The order a station's journal has; the record id where two share a
    // millisecond, so that every run reads them alike.
    " ORDER BY station COLLATE \"C\", utc_time, record_id";

// Large enough that the round trips vanish next to the rows, small enough
// that a batch's copies stay a few megabytes.
constexpr int fetch_rows = 20000;

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
    QByteArray array = "{";
    for (const QString &name : names) {
        if (array.size() > 1)
            array += ',';
        array += '"';
        for (const char c : name.toUtf8()) {
            if (c == '"' || c == '\\')
                array += '\\';
            array += c;
        }
        array += '"';
    }
    return array + '}';
}

std::string_view view(const QByteArray &bytes)
{
    return std::string_view(bytes.constData(), size_t(bytes.size()));
}

// Null when the row reads; the database's CHECK and types keep these from
// failing, unless the table was filled by hand.
const char *to_row(const std::vector<QByteArray> &v, const std::vector<bool> &null, JournalRow *row)
{
    if (!parse_journal_time(view(v[0]), &row->time))
        return "no time";
    row->port = view(v[1]);
    row->operation = view(v[2]);
    row->device_number = view(v[3]);
    row->imei_or_mac = view(v[4]);
    row->image = view(v[5]);
    bool number = true;
    row->image_bytes = null[6] ? -1 : v[6].toLongLong(&number);
    if (!number)
        return "image_bytes not a number";
    row->image_sha256 = view(v[7]);
    row->ok = v[8] == "ok";
    row->detail = view(v[9]);
    row->duration_ms = v[10].toLongLong(&number);
    if (!number)
        return "no duration";
    row->station = view(v[11]);
    row->slot = view(v[12]);
    return nullptr;
}

} // namespace

bool read_database_records(PgLink *link, bool from_given, qint64 from_wall_ms, bool to_given, qint64 to_wall_ms,
                           const QStringList &stations, ShiftTally *tally, int file, QString *error)
{
    // A cursor lives in a transaction; read-only, it holds no lock a
    // station's upload waits on.
    PgLink::Result r = link->exec("BEGIN READ ONLY");
    if (r.ok)
        r = link->exec(select_sql, {timestamp(from_given, from_wall_ms), timestamp(to_given, to_wall_ms),
                                    text_array(stations)});
    const QByteArray fetch = "FETCH " + QByteArray::number(fetch_rows) + " FROM kv20_report";
    JournalRow row;
    qint64 number = 0;
    while (r.ok) {
        r = link->exec(fetch.constData());
        if (!r.ok || r.rows.empty())
            break;
        for (size_t i = 0; i < r.rows.size(); ++i) {
            ++number;
            const char *reason = to_row(r.rows[i], r.nulls[i], &row);
            if (!reason)
                reason = tally->add(row, file);
            if (reason)
                tally->add_unreadable(file, number, reason);
        }
    }
    if (r.ok)
        r = link->exec("COMMIT");
    if (!r.ok) {
        *error = r.error;
        if (link->connected())
            link->exec("ROLLBACK");
    }
    return r.ok;
}
