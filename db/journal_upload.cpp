#include "db/journal_upload.h"

#include "db/batch_commit.h"
#include "db/db_log.h"
#include "db/journal_records.h"
#include "db/pg_link.h"
#include "db/upload_position.h"

namespace {

namespace format = journal_format;

QByteArray bytes(std::string_view text)
{
    return QByteArray(text.data(), int(text.size()));
}

// One statement for a batch, however many records it holds: an array
// parameter per column (text, cast to the column's type, an empty value of a
// type other than text as NULL), then the wall and UTC times.
QByteArray insert_sql()
{
    QByteArray names, values, parameters, aliases;
    for (int c = 0; c < format::column_count + 2; ++c) {
        const bool column = c < format::column_count;
        const QByteArray alias = 'c' + QByteArray::number(c);
        const QByteArray type = column                      ? bytes(format::columns[c].sql_type).split(' ').first()
                                : c == format::column_count ? QByteArray("timestamp")
                                                            : QByteArray("timestamptz");
        const QByteArray name = column                      ? bytes(format::columns[c].name)
                                : c == format::column_count ? QByteArray("wall_time")
                                                            : QByteArray("utc_time");
        names += (c ? ", " : "") + name;
        values += (c ? ", " : "") + (type == "text" ? alias : "nullif(" + alias + ", '')::" + type);
        parameters += (c ? ", $" : "$") + QByteArray::number(c + 1) + "::text[]";
        aliases += (c ? ", " : "") + alias;
    }
    return "INSERT INTO kv20_records (" + names + ") SELECT " + values + " FROM unnest(" + parameters + ") AS u("
           + aliases + ") ON CONFLICT (record_id) DO NOTHING";
}

QByteArray array_literal(const std::vector<JournalRecords::Record> &records,
                         const std::function<const QByteArray &(const JournalRecords::Record &)> &value)
{
    std::vector<QByteArray> values;
    values.reserve(records.size());
    for (const JournalRecords::Record &record : records)
        values.push_back(value(record));
    return PgLink::text_array(values);
}

std::vector<QByteArray> batch_parameters(const std::vector<JournalRecords::Record> &records)
{
    std::vector<QByteArray> arrays;
    for (int c = 0; c < format::column_count; ++c)
        arrays.push_back(array_literal(records, [c](const JournalRecords::Record &r) -> const QByteArray & {
            return r.values[size_t(c)];
        }));
    arrays.push_back(array_literal(records, [](const JournalRecords::Record &r) -> const QByteArray & { return r.wall_time; }));
    arrays.push_back(array_literal(records, [](const JournalRecords::Record &r) -> const QByteArray & { return r.utc_time; }));
    return arrays;
}

void crash_point(const char *name)
{
    if (journal_upload_checkpoint)
        journal_upload_checkpoint(name);
}

QString named(const QString &journal, const JournalRecords::Unreadable &row)
{
    return QStringLiteral("%1: line %2: %3").arg(journal).arg(row.line).arg(row.reason);
}

} // namespace

void (*journal_upload_checkpoint)(const char *where) = nullptr;

bool JournalUpload::run(const QString &journal, UploadCounts *counts, QString *error) const
{
    JournalRecords reader;
    if (!reader.open(journal, error))
        return false;
    UploadPosition position;
    bool trusted = UploadPosition::load(journal, &position) && position.database == database && position.fits(reader);
    if (trusted && !position.last_record.isEmpty()) {
        const PgLink::Result there =
            link->exec("SELECT 1 FROM kv20_records WHERE record_id = $1", {position.last_record});
        if (!there.ok) {
            *error = there.error;
            return false;
        }
        trusted = !there.rows.empty();
    }
    if (!trusted) {
        qCDebug(db_log) << journal << "read from its start";
        position = UploadPosition();
        position.database = database;
        position.place = reader.start();
    }
    // Rows that did not read before still do not: counted again.
    for (const JournalRecords::Unreadable &row : qAsConst(position.unreadable)) {
        ++counts->unreadable;
        if (unreadable)
            unreadable(named(journal, row));
    }
    static const QByteArray insert = insert_sql();
    JournalRecords::Batch batch;
    for (;;) {
        if (stop && stop())
            return true;
        if (!reader.read(position.place, batch_records, &batch, error))
            return false;
        if (batch.end.offset == position.place.offset)
            return true;
        for (const JournalRecords::Unreadable &row : batch.unreadable) {
            if (unreadable)
                unreadable(named(journal, row));
        }
        if (!batch.records.empty()) {
            qint64 inserted = 0;
            if (!commit_batch(link, insert.constData(), batch_parameters(batch.records), sending, &inserted, error,
                              [] { crash_point("before-commit"); }))
                return false;
            counts->sent += inserted;
            counts->already_there += qint64(batch.records.size()) - inserted;
            position.last_record = batch.records.back().values[format::record_id];
            qCDebug(db_log) << journal << "batch of" << batch.records.size() << "committed," << inserted << "new";
        }
        counts->unreadable += qint64(batch.unreadable.size());
        for (const JournalRecords::Unreadable &row : batch.unreadable)
            position.unreadable.append(row);
        position.place = batch.end;
        crash_point("before-position");
        if (!position.save(journal, error))
            return false;
    }
}

void JournalUpload::waiting(const QString &journal, qint64 *records, QStringList *unreadable_rows) const
{
    *records = 0;
    unreadable_rows->clear();
    JournalRecords reader;
    QString error;
    if (!reader.open(journal, &error))
        return;
    UploadPosition position;
    if (!UploadPosition::load(journal, &position) || !position.fits(reader)) {
        position = UploadPosition();
        position.place = reader.start();
    }
    for (const JournalRecords::Unreadable &row : qAsConst(position.unreadable))
        *unreadable_rows << named(journal, row);
    *records = reader.count_from(position.place, stop);
}
