#include "db/db_schema.h"

#include "db/pg_link.h"
#include "journal/journal_format.h"
#include "journal/label_journal.h"

#include <QUuid>

#include <vector>

namespace {

QByteArray bytes(std::string_view text)
{
    return QByteArray(text.data(), int(text.size()));
}

// The statements that make the tables, from the journal's table of columns:
// every column a record has, then what the database adds. `time` is kept as
// the journal wrote it (local time and offset); wall_time is that local date
// and time, which the report's --from and --to compare against, and utc_time
// the instant. A column of a later version is added to an older table too;
// its constant default rewrites no rows.
std::vector<QByteArray> statements()
{
    QByteArray table = "CREATE TABLE IF NOT EXISTS kv20_records (";
    std::vector<QByteArray> later;
    for (const journal_format::ColumnSpec &c : journal_format::columns) {
        table += bytes(c.name) + ' ' + bytes(c.sql_type) + ", ";
        if (c.since_schema > 1)
            later.push_back("ALTER TABLE kv20_records ADD COLUMN IF NOT EXISTS " + bytes(c.name) + ' ' + bytes(c.sql_type));
    }
    table += "wall_time timestamp NOT NULL, utc_time timestamptz NOT NULL, uploaded_at timestamptz NOT NULL DEFAULT now())";
    std::vector<QByteArray> all {
        "CREATE TABLE IF NOT EXISTS kv20_schema (version integer NOT NULL)",
        "ALTER TABLE kv20_schema ADD COLUMN IF NOT EXISTS database_id uuid",
        table,
        "CREATE INDEX IF NOT EXISTS kv20_records_wall_time ON kv20_records (wall_time)",
        "CREATE INDEX IF NOT EXISTS kv20_records_utc_time ON kv20_records (utc_time)",
        "CREATE INDEX IF NOT EXISTS kv20_records_station ON kv20_records (station, wall_time)",
        "CREATE INDEX IF NOT EXISTS kv20_records_slot ON kv20_records (station, port)",
    };
    all.insert(all.end(), later.begin(), later.end());
    all.push_back("CREATE INDEX IF NOT EXISTS kv20_records_station_slot ON kv20_records (station, slot)");
    // A table of version 2 knows only ok and failed.
    all.push_back("ALTER TABLE kv20_records DROP CONSTRAINT IF EXISTS kv20_records_result_check");
    all.push_back("ALTER TABLE kv20_records ADD CONSTRAINT kv20_records_result_check"
                  " CHECK (result IN ('ok', 'failed', 'refused'))");
    // Was this module served before, anywhere: the again policy asks it of
    // every module that arrives, within a bound the line never waits past.
    all.push_back("CREATE INDEX IF NOT EXISTS kv20_records_identity"
                  " ON kv20_records (device_number, imei_or_mac, operation, utc_time) WHERE result = 'ok'");
    // The label journal's events, keyed by the pass, the event and its
    // instant: a resend adds nothing. Its columns are the label journal's,
    // as written, then the instants and the pass's local time that the
    // report's range compares against.
    QByteArray labels = "CREATE TABLE IF NOT EXISTS kv20_label_events (";
    for (const std::string_view column : label_journal_format::columns)
        labels += bytes(column) + (column == "record_id" ? " uuid NOT NULL, " : " text NOT NULL, ");
    labels += "event_time timestamptz NOT NULL, record_wall_time timestamp, uploaded_at timestamptz NOT NULL DEFAULT now(),"
              " PRIMARY KEY (record_id, event, event_time))";
    all.push_back(labels);
    all.push_back("CREATE INDEX IF NOT EXISTS kv20_label_events_record_wall_time ON kv20_label_events (record_wall_time)");
    return all;
}

} // namespace

namespace db_schema {

bool init(PgLink *link, QString *error)
{
    // One transaction: a second station running init at the same moment
    // waits on the lock rather than tripping over half a schema.
    PgLink::Result r = link->exec("BEGIN");
    if (r.ok)
        r = link->exec("SELECT pg_advisory_xact_lock(2020)");
    for (const QByteArray &sql : statements()) {
        if (r.ok)
            r = link->exec(sql.constData());
    }
    if (r.ok)
        r = link->exec("SELECT coalesce(max(version), 0), max(database_id::text) FROM kv20_schema");
    if (r.ok && r.rows.at(0).at(0).toInt() > version) {
        link->exec("ROLLBACK");
        *error = QStringLiteral("the database's schema is version %1, newer than this program's %2")
                     .arg(QString::fromLatin1(r.rows.at(0).at(0)))
                     .arg(version);
        return false;
    }
    // The identity is kept once given: positions of every station are bound
    // to it.
    QByteArray identity = r.ok ? r.rows.at(0).at(1) : QByteArray();
    if (identity.isEmpty())
        identity = QUuid::createUuid().toString(QUuid::WithoutBraces).toLatin1();
    if (r.ok)
        r = link->exec("DELETE FROM kv20_schema");
    if (r.ok)
        r = link->exec("INSERT INTO kv20_schema (version, database_id) VALUES ($1, $2)",
                       {QByteArray::number(version), identity});
    if (r.ok)
        r = link->exec("COMMIT");
    if (!r.ok) {
        *error = r.error;
        if (link->connected())
            link->exec("ROLLBACK");
    }
    return r.ok;
}

bool check(PgLink *link, QByteArray *identity, QString *error)
{
    PgLink::Result r = link->exec("SELECT coalesce(max(version), 0), max(database_id::text) FROM kv20_schema");
    if (!r.ok && r.sql_state == "42P01") {
        *error = QStringLiteral("the database has no kv20 tables (kv20-cli db init --db URL creates them)");
        return false;
    }
    if (!r.ok && r.sql_state == "42703") {
        *error = QStringLiteral("the database has no identity yet (kv20-cli db init --db URL gives it one)");
        return false;
    }
    if (!r.ok) {
        *error = r.error;
        return false;
    }
    if (r.rows.at(0).at(0).toInt() != version) {
        *error = QStringLiteral("the database's schema is version %1, this program's is %2 (kv20-cli db init --db URL)")
                     .arg(QString::fromLatin1(r.rows.at(0).at(0)))
                     .arg(version);
        return false;
    }
    *identity = r.rows.at(0).at(1);
    if (identity->isEmpty()) {
        *error = QStringLiteral("the database has no identity yet (kv20-cli db init --db URL gives it one)");
        return false;
    }
    return true;
}

} // namespace db_schema
