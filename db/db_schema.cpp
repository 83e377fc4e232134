#include "db/db_schema.h"

#include "db/pg_link.h"

namespace {

// `time` is kept as the journal wrote it (local time and offset); wall_time
// is that local date and time, which the report's --from and --to compare
// against, and utc_time the instant.
const char *const statements[] = {
    "CREATE TABLE IF NOT EXISTS kv20_schema (version integer NOT NULL)",
    "CREATE TABLE IF NOT EXISTS kv20_records ("
    " record_id uuid PRIMARY KEY,"
    " station text NOT NULL,"
    " time text NOT NULL,"
    " wall_time timestamp NOT NULL,"
    " utc_time timestamptz NOT NULL,"
    " tool text NOT NULL,"
    " port text NOT NULL,"
    " operation text NOT NULL,"
    " device_number text NOT NULL,"
    " imei_or_mac text NOT NULL,"
    " iccid_or_audio_version text NOT NULL,"
    " device_version text NOT NULL,"
    " image text NOT NULL,"
    " image_bytes bigint,"
    " image_sha256 text NOT NULL,"
    " result text NOT NULL CHECK (result IN ('ok', 'failed')),"
    " detail text NOT NULL,"
    " duration_ms bigint NOT NULL,"
    " uploaded_at timestamptz NOT NULL DEFAULT now())",
    "CREATE INDEX IF NOT EXISTS kv20_records_wall_time ON kv20_records (wall_time)",
    "CREATE INDEX IF NOT EXISTS kv20_records_utc_time ON kv20_records (utc_time)",
    "CREATE INDEX IF NOT EXISTS kv20_records_station ON kv20_records (station, wall_time)",
    "CREATE INDEX IF NOT EXISTS kv20_records_slot ON kv20_records (station, port)",
    // Version 2. Empty where the station did not know the slot, as in the
    // journal, and for every record uploaded before: the report then goes by
    // the port. A column with a constant default rewrites no rows.
    "ALTER TABLE kv20_records ADD COLUMN IF NOT EXISTS slot text NOT NULL DEFAULT ''",
    "CREATE INDEX IF NOT EXISTS kv20_records_station_slot ON kv20_records (station, slot)",
};

} // namespace

namespace db_schema {

bool init(PgLink *link, QString *error)
{
    // One transaction: a second station running init at the same moment
    // waits on the lock rather than tripping over half a schema.
    PgLink::Result r = link->exec("BEGIN");
    if (r.ok)
        r = link->exec("SELECT pg_advisory_xact_lock(2020)");
    for (const char *sql : statements) {
        if (r.ok)
            r = link->exec(sql);
    }
    if (r.ok)
        r = link->exec("SELECT coalesce(max(version), 0) FROM kv20_schema");
    if (r.ok && r.rows.at(0).at(0).toInt() > version) {
        link->exec("ROLLBACK");
        *error = QStringLiteral("the database's schema is version %1, newer than this program's %2")
                     .arg(QString::fromLatin1(r.rows.at(0).at(0)))
                     .arg(version);
        return false;
    }
    if (r.ok && r.rows.at(0).at(0).toInt() < version)
        r = link->exec("DELETE FROM kv20_schema");
    if (r.ok)
        r = link->exec("INSERT INTO kv20_schema (version) SELECT $1 WHERE NOT EXISTS (SELECT 1 FROM kv20_schema)",
                       {QByteArray::number(version)});
    if (r.ok)
        r = link->exec("COMMIT");
    if (!r.ok) {
        *error = r.error;
        link->exec("ROLLBACK");
    }
    return r.ok;
}

bool check(PgLink *link, QString *error)
{
    const PgLink::Result r = link->exec("SELECT coalesce(max(version), 0) FROM kv20_schema");
    if (!r.ok && r.sql_state == "42P01") {
        *error = QStringLiteral("the database has no kv20 tables (kv20-cli db init --db URL creates them)");
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
    return true;
}

} // namespace db_schema
