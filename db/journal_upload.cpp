#include "db/journal_upload.h"

#include "db/db_log.h"
#include "db/journal_records.h"
#include "db/pg_link.h"
#include "db/upload_position.h"

namespace {

using journal_format::Column;

const char insert_sql[] =
    "INSERT INTO kv20_records (record_id, station, time, wall_time, utc_time, tool, port, operation, device_number,"
    " imei_or_mac, iccid_or_audio_version, device_version, image, image_bytes, image_sha256, result, detail,"
    " duration_ms, slot)"
    " SELECT id, station, t, left(t, 23)::timestamp, t::timestamptz, tool, port, op, dn, im, ic, dv, img,"
    " nullif(ib, '')::bigint, sha, res, det, dur::bigint, slot"
    " FROM unnest($1::uuid[], $2::text[], $3::text[], $4::text[], $5::text[], $6::text[], $7::text[], $8::text[],"
    " $9::text[], $10::text[], $11::text[], $12::text[], $13::text[], $14::text[], $15::text[], $16::text[],"
    " $17::text[])"
    " AS u(id, station, t, tool, port, op, dn, im, ic, dv, img, ib, sha, res, det, dur, slot)"
    " ON CONFLICT (record_id) DO NOTHING";

// The statement's parameters in the order of its arrays.
const Column array_columns[] = {
    journal_format::record_id, journal_format::station, journal_format::time, journal_format::tool,
    journal_format::port, journal_format::operation, journal_format::device_number, journal_format::imei_or_mac,
    journal_format::iccid_or_audio_version, journal_format::device_version, journal_format::image,
    journal_format::image_bytes, journal_format::image_sha256, journal_format::result, journal_format::detail,
    journal_format::duration_ms, journal_format::slot,
};

// One array literal per column: a batch is one statement with seventeen
// parameters, however many records it holds.
std::vector<QByteArray> batch_parameters(const std::vector<JournalRecords::Record> &records)
{
    std::vector<QByteArray> arrays;
    for (const Column column : array_columns) {
        QByteArray array = "{";
        for (size_t i = 0; i < records.size(); ++i) {
            if (i > 0)
                array += ',';
            const QByteArray &value = records[i].values[size_t(column)];
            array += '"';
            for (const char c : value) {
                if (c == '"' || c == '\\')
                    array += '\\';
                array += c;
            }
            array += '"';
        }
        arrays.push_back(array + '}');
    }
    return arrays;
}

void crash_point(const char *name)
{
    if (journal_upload_checkpoint)
        journal_upload_checkpoint(name);
}

} // namespace

void (*journal_upload_checkpoint)(const char *where) = nullptr;

bool JournalUpload::run(const QString &journal, UploadCounts *counts, QString *error) const
{
    JournalRecords reader;
    if (!reader.open(journal, error))
        return false;
    qint64 offset = UploadPosition::load(journal, database);
    std::vector<JournalRecords::Record> records;
    std::vector<JournalRecords::Unreadable> bad;
    for (;;) {
        if (stop && stop())
            return true;
        qint64 end = 0;
        if (!reader.read(offset, batch_records, &records, &bad, &end, error))
            return false;
        if (end == offset)
            return true;
        for (const JournalRecords::Unreadable &u : bad) {
            if (unreadable)
                unreadable(QStringLiteral("%1 at byte %2: %3").arg(journal).arg(u.offset).arg(u.reason));
        }
        if (!records.empty()) {
            PgLink::Result r = link->exec("BEGIN");
            PgLink::Result inserted;
            if (r.ok)
                r = inserted = link->exec(insert_sql, batch_parameters(records));
            crash_point("before-commit");
            if (r.ok)
                r = link->exec("COMMIT");
            if (!r.ok) {
                *error = r.error;
                if (link->connected())
                    link->exec("ROLLBACK");
                return false;
            }
            counts->sent += inserted.affected;
            counts->already_there += qint64(records.size()) - inserted.affected;
            qCDebug(db_log) << journal << "batch of" << records.size() << "committed," << inserted.affected << "new";
        }
        counts->unreadable += qint64(bad.size());
        crash_point("before-position");
        if (!UploadPosition::save(journal, database, end, error))
            return false;
        offset = end;
    }
}

qint64 JournalUpload::waiting(const QString &journal) const
{
    JournalRecords reader;
    QString error;
    if (!reader.open(journal, &error))
        return 0;
    return reader.count_from(UploadPosition::load(journal, database));
}
