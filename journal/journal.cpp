#include "journal/journal.h"

#include "journal/journal_file.h"
#include "journal/journal_format.h"
#include "journal/journal_log.h"
#include "journal/station_name.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSet>
#include <QStringList>
#include <QUuid>

#include <mutex>

const QString Journal::default_path = QString::fromLatin1(journal_format::file_name.data(),
                                                         int(journal_format::file_name.size()));

namespace {

QByteArray latin1(std::string_view text)
{
    return QByteArray(text.data(), int(text.size()));
}

} // namespace

QByteArray Journal::csv_field(const QString &value)
{
    const QByteArray utf8 = value.toUtf8();
    const std::string stored = journal_format::stored_value(std::string_view(utf8.constData(), size_t(utf8.size())));
    QByteArray bytes(stored.data(), int(stored.size()));
    if (bytes.contains(',') || bytes.contains('"')) {
        bytes.replace("\"", "\"\"");
        bytes = '"' + bytes + '"';
    }
    return bytes;
}

namespace {

QByteArray join_row(const QList<QByteArray> &fields)
{
    QByteArray row;
    for (int i = 0; i < fields.size(); ++i) {
        if (i > 0)
            row += ',';
        row += fields.at(i);
    }
    return row + latin1(journal_format::line_end);
}

} // namespace

QString operation_name(quint8 type)
{
    return journal_text(journal_format::operation_words[qMin<int>(type, 2)]);
}

QString journal_words(OperationFailure failure)
{
    return QString::fromStdString(journal_format::detail_words(failure));
}

QString detail_of(const OperationRecord &record)
{
    if (record.ok)
        return QString();
    if (record.failure.kind == Failure::done_before && !record.earlier.record_id.isEmpty()) {
        const OperationRecord::Earlier &e = record.earlier;
        return (journal_words(record.failure) + QStringLiteral(" at %1 %2 %3").arg(e.station, e.place, e.time)).simplified();
    }
    return record.failure ? journal_words(record.failure) : record.detail_read_back;
}

std::string_view result_word(const OperationRecord &record)
{
    if (record.ok)
        return journal_format::result_ok;
    return record.failure.kind == Failure::done_before ? journal_format::result_refused : journal_format::result_failed;
}

OperationRecord unstarted_operation(const QString &port, quint8 type, const QString &image, OperationFailure failure)
{
    OperationRecord record;
    record.started = QDateTime::currentDateTime();
    record.port = port;
    record.operation = operation_name(type);
    record.image = image;
    record.failure = failure;
    return record;
}

Journal::Journal(QString path, QString last_resort_folder)
    : path_(std::move(path))
    , station_(station_name(QFileInfo(path_).absolutePath()))
    , last_resort_(std::move(last_resort_folder))
{
}

// Local time with its offset, never "Z", so that records from machines in
// different zones still sort and compare.
QString Journal::time_text(const QDateTime &time)
{
    const int offset = time.offsetFromUtc();
    const int minutes = qAbs(offset) / 60;
    return time.toString(QLatin1String(latin1(journal_format::time_format)))
           + QStringLiteral("%1%2:%3")
                 .arg(offset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
                 .arg(minutes / 60, 2, 10, QLatin1Char('0'))
                 .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

QByteArray Journal::header_row()
{
    QList<QByteArray> fields;
    for (const journal_format::ColumnSpec &column : journal_format::columns)
        fields << latin1(column.name);
    return join_row(fields);
}

namespace {

// A column's field of the record as the journal stores it.
QByteArray field_of(const OperationRecord &r, journal_format::Column column)
{
    namespace f = journal_format;
    const bool image_read = r.image_bytes >= 0;
    switch (column) {
    case f::time: return Journal::csv_field(Journal::time_text(r.started));
    case f::tool: return Journal::csv_field(r.tool);
    case f::port: return Journal::csv_field(r.port);
    case f::operation: return Journal::csv_field(r.operation);
    case f::device_number: return Journal::csv_field(r.device_number);
    case f::imei_or_mac: return Journal::csv_field(r.imei_or_mac);
    case f::iccid_or_audio_version: return Journal::csv_field(r.iccid_or_audio_version);
    case f::device_version: return Journal::csv_field(r.device_version);
    case f::image: return Journal::csv_field(r.image);
    case f::image_bytes: return image_read ? QByteArray::number(r.image_bytes) : QByteArray();
    case f::image_sha256: return image_read ? r.image_sha256 : QByteArray();
    case f::result: return latin1(result_word(r));
    case f::detail: return Journal::csv_field(detail_of(r));
    case f::duration_ms: return QByteArray::number(r.duration_ms);
    case f::record_id: return Journal::csv_field(r.record_id);
    case f::station: return Journal::csv_field(r.station);
    case f::slot: return Journal::csv_field(r.slot);
    case f::operator_id: return Journal::csv_field(r.operator_id);
    case f::work_order: return Journal::csv_field(r.work_order);
    case f::product: return Journal::csv_field(r.product);
    case f::recipe_sha256: return r.recipe_sha256;
    case f::again_of: return Journal::csv_field(r.earlier.record_id);
    case f::again_checked: return Journal::csv_field(r.again_checked);
    case f::column_count: break;
    }
    return QByteArray();
}

} // namespace

QByteArray Journal::record_row(const OperationRecord &r)
{
    QList<QByteArray> fields;
    for (int c = 0; c < journal_format::column_count; ++c)
        fields << field_of(r, journal_format::Column(c));
    return join_row(fields);
}

namespace {

// One side file per process: named when it is first needed; announced once.
std::mutex side_mutex;
QString side_stamp;
QSet<QString> announced_side_files;

// One append to the journal or the side file, traced with the time it took.
QString traced_append(const QString &path, const QByteArray &preamble, const QByteArray &row)
{
    QElapsedTimer clock;
    clock.start();
    const QString refused = append_journal_row(path, preamble, row, Journal::lock_wait_ms);
    if (refused.isEmpty())
        qCDebug(journal_log) << "record appended to" << path << "in" << clock.elapsed() << "ms";
    else
        qCDebug(journal_log) << "record not appended to" << path << "in" << clock.elapsed() << "ms:" << refused;
    return refused;
}

bool announce_once(const QString &side_path)
{
    std::lock_guard<std::mutex> locker(side_mutex);
    if (announced_side_files.contains(side_path))
        return false;
    announced_side_files.insert(side_path);
    return true;
}

// The process's side file in `folder`.
QString side_file_in(const QString &folder)
{
    std::lock_guard<std::mutex> locker(side_mutex);
    if (side_stamp.isEmpty())
        side_stamp = QDateTime::currentDateTime().toString(QLatin1String(latin1(journal_format::side_file_stamp)));
    return QDir::toNativeSeparators(folder + QLatin1Char('/') + QLatin1String(latin1(journal_format::side_file_prefix))
                                    + side_stamp + QLatin1String(latin1(journal_format::side_file_suffix)));
}

} // namespace

QString Journal::side_file_path() const
{
    return side_file_in(QFileInfo(path_).absolutePath());
}

QString Journal::last_resort_path() const
{
    return last_resort_.isEmpty() ? QString() : side_file_in(QDir(last_resort_).absolutePath());
}

JournalOutcome Journal::append(const OperationRecord &record) const
{
    // The byte-order mark makes spreadsheet programs read the file as UTF-8.
    const QByteArray preamble = latin1(journal_format::byte_order_mark) + header_row();
    OperationRecord named = record;
    if (named.record_id.isEmpty())
        named.record_id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    if (named.station.isEmpty())
        named.station = station_;
    const QByteArray row = record_row(named);
    JournalOutcome outcome;
    outcome.record_id = named.record_id;
    outcome.station = named.station;
    const QString refused = traced_append(path_, preamble, row);
    outcome.in_journal = refused.isEmpty();
    if (outcome.in_journal) {
        outcome.kept_in = QDir::toNativeSeparators(QFileInfo(path_).absoluteFilePath());
        return outcome;
    }
    outcome.notices << QStringLiteral("journal not written: ") + refused;
    // The side file beside the journal, then the one in the last-resort
    // folder (whose folder may not exist yet; a file in its place fails).
    const struct { QString path; const char *kept_words; } fallbacks[] = {
        {side_file_path(), "records the journal did not take are kept in "},
        {last_resort_path(), "records neither file took are kept in "},
    };
    for (const auto &fallback : fallbacks) {
        if (fallback.path.isEmpty() || (&fallback != fallbacks && fallback.path == fallbacks[0].path))
            continue;
        if (&fallback != fallbacks)
            QDir().mkpath(last_resort_);
        const QString fallback_refused = traced_append(fallback.path, preamble, row);
        if (fallback_refused.isEmpty()) {
            outcome.kept_in = fallback.path;
            if (announce_once(fallback.path))
                outcome.notices << QLatin1String(fallback.kept_words) + fallback.path;
            return outcome;
        }
        outcome.notices << QStringLiteral("%1 not written either: %2").arg(fallback.path, fallback_refused);
    }
    outcome.unsaved = QString::fromUtf8(row.left(row.size() - 2));
    outcome.notices << QStringLiteral("unsaved record: ") + outcome.unsaved;
    return outcome;
}
