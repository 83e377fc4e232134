#include "db/journal_records.h"

#include "journal/station_name.h"

#include <QDateTime>
#include <QUuid>

namespace {

using journal_format::Column;

constexpr qint64 chunk_bytes = 1 << 20;
// A record longer than this is not one of the journal's: a file that is not
// CSV, or quotes out of place swallowing the rest.
constexpr qint64 most_record_bytes = 1 << 20;

// Names the records of journals from before record ids, with their station
// and bytes, so that every upload of them gives the same ids.
const QUuid older_records(QStringLiteral("{6f1c2a47-3b52-4e0a-9d61-0f2a8c7be913}"));

// The fields of one record, quotes undone (RFC 4180). False when quotes are
// out of place.
bool split_fields(const QByteArray &line, std::vector<QByteArray> *fields)
{
    fields->clear();
    QByteArray field;
    bool quoted = false, was_quoted = false;
    for (int i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c != '"')
                field += c;
            else if (i + 1 < line.size() && line[i + 1] == '"')
                field += line[++i];
            else
                quoted = false;
        } else if (c == ',') {
            fields->push_back(field);
            field.clear();
            was_quoted = false;
        } else if (c == '"' && field.isEmpty() && !was_quoted) {
            quoted = was_quoted = true;
        } else if (c == '"' || was_quoted) {
            return false;
        } else {
            field += c;
        }
    }
    fields->push_back(field);
    return !quoted;
}

// The original value, as valid UTF-8 without NUL: PostgreSQL's text takes
// neither a NUL nor a broken sequence, and one such value would refuse a
// whole batch. Both become U+FFFD.
QByteArray original(const QByteArray &stored)
{
    std::string scratch;
    const std::string_view value =
        journal_format::original_value(std::string_view(stored.constData(), size_t(stored.size())), &scratch);
    QString text = QString::fromUtf8(value.data(), int(value.size()));
    text.replace(QChar(0), QChar(QChar::ReplacementCharacter));
    return text.toUtf8();
}

bool digits(const QByteArray &text)
{
    if (text.isEmpty() || text.size() > 18)
        return false;
    for (const char c : text)
        if (c < '0' || c > '9')
            return false;
    return true;
}

// 2026-12-06T14:21:54.636+08:00, checked by hand: Qt's date parsers consult
// the local time zone, whose state libc shares unguarded with the thread
// that writes the journal.
bool journal_time(const QByteArray &text)
{
    static const char shape[] = "dddd-dd-ddTdd:dd:dd.ddd+dd:dd";
    if (text.size() != int(sizeof shape - 1))
        return false;
    for (int i = 0; i < text.size(); ++i) {
        const char c = text[i], want = shape[i];
        if (want == 'd' ? (c < '0' || c > '9') : want == '+' ? (c != '+' && c != '-') : c != want)
            return false;
    }
    const auto number = [&](int at, int length) { return text.mid(at, length).toInt(); };
    return QDate::isValid(number(0, 4), number(5, 2), number(8, 2)) && number(11, 2) < 24 && number(14, 2) < 60
           && number(17, 2) < 60 && number(24, 2) <= 15 && number(27, 2) < 60;
}

QByteArray without_line_end(QByteArray raw)
{
    while (raw.endsWith('\n') || raw.endsWith('\r'))
        raw.chop(1);
    return raw;
}

// The length of the first record in `bytes` with its line end, or 0 when its
// line end is not there yet. A line end inside quotes belongs to the value
// (journals from before one record per line).
int record_length(const QByteArray &bytes, int from)
{
    bool quoted = false;
    for (int i = from; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c == '"')
            quoted = !quoted;
        else if (c == '\n' && !quoted)
            return i + 1 - from;
    }
    return 0;
}

} // namespace

bool JournalRecords::open(const QString &path, QString *error)
{
    file_.setFileName(path);
    if (!file_.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1: cannot be read: %2").arg(path, file_.errorString());
        return false;
    }
    default_station_ = station_of_journal_path(path);
    QByteArray start = file_.read(64 * 1024);
    int skip = 0;
    if (start.startsWith(QByteArray(journal_format::byte_order_mark.data(), int(journal_format::byte_order_mark.size()))))
        skip = int(journal_format::byte_order_mark.size());
    const int length = record_length(start, skip);
    std::vector<QByteArray> names;
    if (length == 0 || !split_fields(without_line_end(start.mid(skip, length)), &names)) {
        *error = QStringLiteral("%1: not a results journal (no header line)").arg(path);
        return false;
    }
    QStringList missing;
    for (int c = 0; c < journal_format::column_count; ++c) {
        const std::string_view name = journal_format::column_names[c];
        index_[c] = -1;
        for (size_t i = 0; i < names.size(); ++i)
            if (names[i] == QByteArray(name.data(), int(name.size())))
                index_[c] = int(i);
        // Older journals lack the newest columns; the others every journal has.
        if (index_[c] < 0 && c != journal_format::record_id && c != journal_format::station
            && c != journal_format::slot)
            missing << QString::fromLatin1(name.data(), int(name.size()));
    }
    if (!missing.isEmpty()) {
        *error = QStringLiteral("%1: not a results journal (missing columns: %2)").arg(path, missing.join(QStringLiteral(", ")));
        return false;
    }
    width_ = int(names.size());
    header_line_ = without_line_end(start.mid(skip, length));
    records_start_ = skip + length;
    return true;
}

bool JournalRecords::parse(const QByteArray &raw, Record *record, QString *reason) const
{
    std::vector<QByteArray> fields;
    if (!split_fields(raw, &fields)) {
        *reason = QStringLiteral("quotes out of place");
        return false;
    }
    if (int(fields.size()) != width_) {
        *reason = int(fields.size()) < width_ ? QStringLiteral("too few fields") : QStringLiteral("too many fields");
        return false;
    }
    for (int c = 0; c < journal_format::column_count; ++c)
        record->values[size_t(c)] = index_[c] < 0 ? QByteArray("") : original(fields[size_t(index_[c])]);
    auto &v = record->values;
    if (!journal_time(v[journal_format::time]))
        *reason = QStringLiteral("no time");
    else if (v[journal_format::result] != "ok" && v[journal_format::result] != "failed")
        *reason = QStringLiteral("result neither ok nor failed");
    else if (!digits(v[journal_format::duration_ms]))
        *reason = QStringLiteral("no duration");
    else if (!v[journal_format::image_bytes].isEmpty() && !digits(v[journal_format::image_bytes]))
        *reason = QStringLiteral("image_bytes not a number");
    else if (v[journal_format::operation].isEmpty())
        *reason = QStringLiteral("no operation");
    if (!reason->isEmpty())
        return false;
    if (v[journal_format::station].isEmpty())
        v[journal_format::station] = default_station_.toUtf8();
    QByteArray &id = v[journal_format::record_id];
    if (id.isEmpty()) {
        id = QUuid::createUuidV5(older_records, v[journal_format::station] + '\n' + raw).toString(QUuid::WithoutBraces).toLatin1();
    } else if (QUuid(QString::fromLatin1(id)).isNull()) {
        *reason = QStringLiteral("record_id not a UUID");
        return false;
    }
    return true;
}

bool JournalRecords::read(qint64 offset, int most, std::vector<Record> *records, std::vector<Unreadable> *unreadable,
                          qint64 *end, QString *error)
{
    records->clear();
    unreadable->clear();
    offset = qMax(offset, records_start_);
    *end = offset;
    QByteArray buffer;
    int at = 0;
    while (int(records->size()) < most) {
        int length = record_length(buffer, at);
        if (length == 0) {
            if (at > 0) {
                buffer.remove(0, at);
                at = 0;
            }
            if (buffer.size() > most_record_bytes) {
                // Not a record of the journal's; skipped to the next line end.
                const int line_end = buffer.indexOf('\n');
                unreadable->push_back({*end, QStringLiteral("longer than 1 MiB")});
                if (line_end < 0) {
                    *end += buffer.size();
                    buffer.clear();
                } else {
                    *end += line_end + 1;
                    buffer.remove(0, line_end + 1);
                }
                continue;
            }
            if (!file_.seek(*end + buffer.size())) {
                *error = file_.errorString();
                return false;
            }
            const QByteArray more = file_.read(chunk_bytes);
            if (more.isEmpty()) {
                if (file_.error() != QFileDevice::NoError) {
                    *error = file_.errorString();
                    return false;
                }
                return true;  // the rest is a record still being written, or nothing
            }
            buffer += more;
            continue;
        }
        const QByteArray raw = without_line_end(buffer.mid(at, length));
        const qint64 start = *end;
        at += length;
        *end += length;
        // A blank line holds no record; a header again is where side-file
        // records were pasted in with their header.
        if (raw.isEmpty() || raw == header_line_ || raw == QByteArray(journal_format::byte_order_mark.data()) + header_line_)
            continue;
        Record record;
        QString reason;
        if (parse(raw, &record, &reason)) {
            record.end = *end;
            records->push_back(std::move(record));
        } else {
            unreadable->push_back({start, reason});
        }
    }
    return true;
}

qint64 JournalRecords::count_from(qint64 offset)
{
    qint64 count = 0, end = 0;
    std::vector<Record> records;
    std::vector<Unreadable> unreadable;
    QString error;
    while (read(offset, 10000, &records, &unreadable, &end, &error) && end > offset) {
        count += qint64(records.size());
        offset = end;
    }
    return count;
}
