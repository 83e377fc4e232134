#include "db/journal_records.h"

#include "journal/station_name.h"

#include <QCryptographicHash>
#include <QFile>
#include <QTextCodec>
#include <QUuid>

namespace {

namespace format = journal_format;

// Names the records of journals from before record ids, with their station
// and bytes, so that every upload of them gives the same ids.
const QUuid older_records(QStringLiteral("{6f1c2a47-3b52-4e0a-9d61-0f2a8c7be913}"));

// The value as valid UTF-8 without NUL: PostgreSQL's text takes neither a
// NUL nor a broken sequence, and one such value would refuse a whole batch.
// Both become U+FFFD; a byte-order mark at a value's start is kept (Qt's
// plain UTF-8 conversion would drop it).
QByteArray database_text(std::string_view value)
{
    bool plain = true;
    for (const char c : value)
        plain = plain && c > 0;
    if (plain)
        return QByteArray(value.data(), int(value.size()));
    QTextCodec::ConverterState state(QTextCodec::IgnoreHeader);
    QString text = QTextCodec::codecForMib(106)->toUnicode(value.data(), int(value.size()), &state);
    text.replace(QChar(0), QChar(QChar::ReplacementCharacter));
    return text.toUtf8();
}

QByteArray sha256(std::string_view bytes)
{
    return QCryptographicHash::hash(QByteArray::fromRawData(bytes.data(), int(bytes.size())), QCryptographicHash::Sha256)
        .toHex();
}


} // namespace

QByteArray JournalRecords::sha256_of(const QString &path, qint64 start, qint64 end)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || !file.seek(start) || file.size() < end)
        return QByteArray();
    QCryptographicHash hash(QCryptographicHash::Sha256);
    for (qint64 left = end - start; left > 0;) {
        const QByteArray chunk = file.read(qMin<qint64>(left, 1 << 20));
        if (chunk.isEmpty())
            return QByteArray();
        hash.addData(chunk);
        left -= chunk.size();
    }
    return hash.result().toHex();
}

bool JournalRecords::open(const QString &path, QString *error)
{
    path_ = path;
    if (!reader_.open(path, error))
        return false;
    reader_.close();
    default_station_ = station_of_journal_path(path);
    return true;
}

JournalRecords::Place JournalRecords::start() const
{
    return {reader_.records_start(), reader_.records_line(), 0, QByteArray()};
}

bool JournalRecords::holds(qint64 start, qint64 end, const QByteArray &hash) const
{
    return !hash.isEmpty() && sha256_of(path_, start, end) == hash;
}

bool JournalRecords::read(const Place &from, int most, Batch *batch, QString *error)
{
    batch->records.clear();
    batch->unreadable.clear();
    batch->end = from;
    if (!reader_.reopen(error))
        return false;
    if (!reader_.seek(from.offset, from.line)) {
        *error = QStringLiteral("%1: cannot be read at byte %2").arg(path_).arg(from.offset);
        return false;
    }
    const JournalColumns &columns = reader_.columns();
    std::string scratch;
    const char *reason = nullptr;
    while (int(batch->records.size()) < most && reader_.next(&reason)) {
        const JournalScanner::Row &row = reader_.row();
        // The record a writer is appending may be half there.
        if (row.torn)
            break;
        // The last row's hash is taken once the batch is read: the rows
        // between need none.
        batch->end = {row.end, row.line + row.lines, row.start, QByteArray()};
        if (reason) {
            const QByteArray hash = row.too_long ? sha256_of(path_, row.start, row.end) : sha256(row.bytes);
            batch->unreadable.push_back({row.start, row.end, row.line, hash, QString::fromLatin1(reason)});
            continue;
        }
        Record record;
        for (int c = 0; c < format::column_count; ++c)
            record.values[size_t(c)] = database_text(columns.value(row, format::Column(c), &scratch));
        QByteArray &station = record.values[format::station];
        if (station.isEmpty())
            station = default_station_.toUtf8();
        QByteArray &id = record.values[format::record_id];
        if (id.isEmpty()) {
            std::string_view line = row.bytes;
            while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
                line.remove_suffix(1);
            id = QUuid::createUuidV5(older_records, station + '\n' + QByteArray(line.data(), int(line.size())))
                     .toString(QUuid::WithoutBraces)
                     .toLatin1();
        }
        const JournalTime &time = reader_.record().time;
        record.wall_time = timestamp_text(time.wall_ms);
        record.utc_time = timestamp_text(time.instant_ms) + "+00";
        batch->records.push_back(std::move(record));
    }
    const QString read_error = reader_.read_error();
    reader_.close();
    if (!read_error.isEmpty()) {
        *error = QStringLiteral("%1: cannot be read: %2").arg(path_, read_error);
        return false;
    }
    if (batch->end.offset != from.offset) {
        batch->end.last_sha256 = sha256_of(path_, batch->end.last_start, batch->end.offset);
        if (batch->end.last_sha256.isEmpty()) {
            *error = QStringLiteral("%1: cannot be read at byte %2").arg(path_).arg(batch->end.last_start);
            return false;
        }
    }
    return true;
}

qint64 JournalRecords::count_from(const Place &from, const std::function<bool()> &stop)
{
    QString error;
    if (!reader_.reopen(&error) || !reader_.seek(from.offset, from.line))
        return 0;
    qint64 count = 0, rows = 0;
    const char *reason = nullptr;
    while (reader_.next(&reason) && !reader_.row().torn) {
        count += reason ? 0 : 1;
        if (++rows % 4096 == 0 && stop && stop())
            break;
    }
    reader_.close();
    return count;
}
