#include "db/label_upload.h"

#include "db/batch_commit.h"
#include "db/db_log.h"
#include "db/pg_link.h"
#include "db/upload_position.h"
#include "journal/journal_time.h"
#include "journal/label_journal.h"

#include <QUuid>

#include <vector>

namespace L = label_journal_format;

namespace {

constexpr int column_count = int(std::size(label_journal_format::columns));

QByteArray bytes(std::string_view text)
{
    return QByteArray(text.data(), int(text.size()));
}

// One statement a batch: a text[] parameter per column, then the event's
// instant and the pass's local time (empty: NULL).
QByteArray insert_sql()
{
    QByteArray names, values, parameters, aliases;
    for (int c = 0; c < column_count + 2; ++c) {
        const QByteArray alias = 'c' + QByteArray::number(c);
        const QByteArray name = c < column_count ? bytes(label_journal_format::columns[c])
                                : c == column_count ? QByteArray("event_time") : QByteArray("record_wall_time");
        names += (c ? ", " : "") + name;
        values += (c ? ", " : "") + (name == "record_id"          ? alias + "::uuid"
                                     : name == "event_time"       ? alias + "::timestamptz"
                                     : name == "record_wall_time" ? "nullif(" + alias + ", '')::timestamp"
                                                                  : alias);
        parameters += (c ? ", $" : "$") + QByteArray::number(c + 1) + "::text[]";
        aliases += (c ? ", " : "") + alias;
    }
    return "INSERT INTO kv20_label_events (" + names + ") SELECT " + values + " FROM unnest(" + parameters + ") AS u("
           + aliases + ") ON CONFLICT (record_id, event, event_time) DO NOTHING";
}

struct Batch
{
    std::vector<std::vector<QByteArray>> columns = std::vector<std::vector<QByteArray>>(size_t(column_count + 2));
    int events = 0;
    QByteArray last_key;  // of the last event taken
    JournalRecords::Place end;
    std::vector<JournalRecords::Unreadable> unreadable;
};

// The event's key as the position names it (no blanks): its pass, its
// event's index and its time as written.
QByteArray key_of(const QStringList &values)
{
    return values[L::record_id].toLatin1() + '|' + QByteArray::number(LabelJournal::kind_of(values[L::event])) + '|'
           + values[L::time].toLatin1();
}

// Up to `most` events from `from` on.
bool read_batch(const QString &file, const JournalRecords::Place &from, int most, Batch *batch)
{
    batch->end = from;
    const bool read = LabelJournal::read_rows(file, from.offset, from.line,
                                              [&](const QStringList &values, const JournalScanner::Row &row) {
        if (batch->events >= most)
            return false;
        batch->end = {row.end, row.line + row.lines, row.start, QByteArray()};
        JournalTime event_time, record_time;
        const bool pass = !QUuid::fromString(values[L::record_id]).isNull() && values[L::record_id].size() == 36;
        const bool timed = parse_journal_time(values[L::time].toStdString(), &event_time);
        if (!pass || !timed) {
            batch->unreadable.push_back({row.start, row.end, row.line,
                                         JournalRecords::sha256_of(file, row.start, row.end),
                                         pass ? QStringLiteral("no time") : QStringLiteral("no record id")});
            return true;
        }
        for (int c = 0; c < column_count; ++c) {
            QString value = values[c];
            batch->columns[size_t(c)].push_back(value.replace(QChar(0), QChar(QChar::ReplacementCharacter)).toUtf8());
        }
        batch->columns[size_t(column_count)].push_back(timestamp_text(event_time.instant_ms) + "+00");
        batch->columns[size_t(column_count + 1)].push_back(
            parse_journal_time(values[L::record_time].toStdString(), &record_time) ? timestamp_text(record_time.wall_ms) : QByteArray());
        batch->last_key = key_of(values);
        ++batch->events;
        return true;
    });
    if (read && batch->end.offset != from.offset)
        batch->end.last_sha256 = JournalRecords::sha256_of(file, batch->end.last_start, batch->end.offset);
    return read && (batch->end.offset == from.offset || !batch->end.last_sha256.isEmpty());
}

// The file's start, past its header.
UploadPosition start_of(const QString &file, const QByteArray &database)
{
    qint64 line = 1;
    UploadPosition position;
    position.database = database;
    position.place = {qMax<qint64>(LabelJournal::rows_start(file, &line), 0), line, 0, QByteArray()};
    return position;
}

// The saved position when it still proves itself against the file (and,
// given, the database's identity), else the file's start.
UploadPosition position_of(const QString &file, const QByteArray &database, bool *from_start)
{
    qint64 line = 1;
    const qint64 rows_start = LabelJournal::rows_start(file, &line);
    UploadPosition position;
    *from_start = !(UploadPosition::load(file, &position) && (database.isEmpty() || position.database == database)
                    && position.fits(file, rows_start));
    return *from_start ? start_of(file, database) : position;
}

} // namespace

bool LabelUpload::run(const QString &file, UploadCounts *counts, QString *error) const
{
    bool from_start = false;
    UploadPosition position = position_of(file, database, &from_start);
    if (!from_start && !position.last_record.isEmpty()) {
        const QList<QByteArray> key = position.last_record.split('|');
        const PgLink::Result there = link->exec(
            "SELECT 1 FROM kv20_label_events WHERE record_id = $1::uuid AND event = $2 AND event_time = $3::timestamptz",
            {key.value(0), bytes(label_journal_format::event_words[qBound(0, key.value(1).toInt(), 3)]), key.value(2)});
        if (!there.ok) {
            *error = there.error;
            return false;
        }
        if (there.rows.empty()) {
            qCDebug(db_log) << file << "read from its start";
            position = start_of(file, database);
        }
    }
    counts->unreadable += position.unreadable.size();
    static const QByteArray insert = insert_sql();
    for (;;) {
        if (stop && stop())
            return true;
        Batch batch;
        if (!read_batch(file, position.place, batch_events, &batch)) {
            *error = QStringLiteral("%1: cannot be read").arg(file);
            return false;
        }
        if (batch.end.offset == position.place.offset)
            return true;
        if (batch.events > 0) {
            std::vector<QByteArray> parameters;
            for (const std::vector<QByteArray> &column : batch.columns)
                parameters.push_back(PgLink::text_array(column));
            qint64 inserted = 0;
            if (!commit_batch(link, insert.constData(), parameters, sending, &inserted, error))
                return false;
            counts->sent += inserted;
            counts->already_there += batch.events - inserted;
            position.last_record = batch.last_key;
        }
        counts->unreadable += qint64(batch.unreadable.size());
        for (const JournalRecords::Unreadable &row : batch.unreadable)
            position.unreadable.append(row);
        position.place = batch.end;
        if (!position.save(file, error))
            return false;
    }
}

qint64 LabelUpload::waiting(const QString &file) const
{
    bool from_start = false;
    const UploadPosition position = position_of(file, QByteArray(), &from_start);
    qint64 events = 0;
    LabelJournal::read_rows(file, position.place.offset, position.place.line,
                            [&events](const QStringList &, const JournalScanner::Row &) {
        ++events;
        return true;
    });
    return events;
}
