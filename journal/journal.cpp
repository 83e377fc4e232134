#include "journal/journal.h"

#include "journal/journal_file.h"
#include "journal/journal_log.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QStringList>

#include <mutex>

const QString Journal::default_path = QStringLiteral("kv20-journal.csv");

namespace {

const char *const columns[] = {
    "time", "tool", "port", "operation", "device_number", "imei_or_mac", "iccid_or_audio_version",
    "device_version", "image", "image_bytes", "image_sha256", "result", "detail", "duration_ms",
};

// RFC 4180: a field with a comma, a quote or a line break is quoted, its
// quotes doubled.
QByteArray csv_field(const QString &value)
{
    QByteArray bytes = value.toUtf8();
    if (bytes.contains(',') || bytes.contains('"') || bytes.contains('\r') || bytes.contains('\n')) {
        bytes.replace("\"", "\"\"");
        bytes = '"' + bytes + '"';
    }
    return bytes;
}

// A module is outside the operator's control: a value that a spreadsheet
// would run as a formula is stored as text.
QString module_value(QString value)
{
    static const QString formula_starts = QStringLiteral("=+-@\t\r");
    if (!value.isEmpty() && formula_starts.contains(value.at(0)))
        value.prepend(QLatin1Char('\''));
    return value;
}

// Local time with its offset, never "Z", so that records from machines in
// different zones still sort and compare.
QString local_time(const QDateTime &time)
{
    const int offset = time.offsetFromUtc();
    const int minutes = qAbs(offset) / 60;
    return time.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz"))
           + QStringLiteral("%1%2:%3")
                 .arg(offset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
                 .arg(minutes / 60, 2, 10, QLatin1Char('0'))
                 .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

QByteArray join_row(const QList<QByteArray> &fields)
{
    QByteArray row;
    for (int i = 0; i < fields.size(); ++i) {
        if (i > 0)
            row += ',';
        row += fields.at(i);
    }
    return row + "\r\n";
}

} // namespace

QString operation_name(quint8 type)
{
    switch (type) {
    case 0:
        return QStringLiteral("query");
    case 1:
        return QStringLiteral("audio");
    default:
        return QStringLiteral("firmware");
    }
}

OperationRecord unstarted_operation(const QString &port, quint8 type, const QString &image, const QString &detail)
{
    OperationRecord record;
    record.started = QDateTime::currentDateTime();
    record.port = port;
    record.operation = operation_name(type);
    record.image = image;
    record.detail = detail;
    return record;
}

Journal::Journal(QString path)
    : path_(std::move(path))
{
}

QByteArray Journal::header_row()
{
    QList<QByteArray> fields;
    for (const char *column : columns)
        fields << QByteArray(column);
    return join_row(fields);
}

QByteArray Journal::record_row(const OperationRecord &r)
{
    const bool image_read = r.image_bytes >= 0;
    return join_row({
        csv_field(local_time(r.started)),
        csv_field(r.tool),
        csv_field(r.port),
        csv_field(r.operation),
        csv_field(module_value(r.device_number)),
        csv_field(module_value(r.imei_or_mac)),
        csv_field(module_value(r.iccid_or_audio_version)),
        csv_field(module_value(r.device_version)),
        csv_field(r.image),
        image_read ? QByteArray::number(r.image_bytes) : QByteArray(),
        image_read ? r.image_sha256 : QByteArray(),
        r.ok ? QByteArray("ok") : QByteArray("failed"),
        csv_field(r.ok ? QString() : r.detail),
        QByteArray::number(r.duration_ms),
    });
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

} // namespace

QString Journal::side_file_path() const
{
    std::lock_guard<std::mutex> locker(side_mutex);
    if (side_stamp.isEmpty())
        side_stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    const QString folder = QFileInfo(path_).absolutePath();
    return QDir::toNativeSeparators(folder + QStringLiteral("/kv20-journal-unsaved-%1.csv").arg(side_stamp));
}

JournalOutcome Journal::append(const OperationRecord &record) const
{
    // The byte-order mark makes spreadsheet programs read the file as UTF-8.
    const QByteArray preamble = "\xEF\xBB\xBF" + header_row();
    const QByteArray row = record_row(record);
    JournalOutcome outcome;
    const QString refused = traced_append(path_, preamble, row);
    outcome.in_journal = refused.isEmpty();
    if (outcome.in_journal)
        return outcome;
    outcome.notices << QStringLiteral("journal not written: ") + refused;
    const QString side = side_file_path();
    const QString side_refused = traced_append(side, preamble, row);
    if (side_refused.isEmpty()) {
        if (announce_once(side))
            outcome.notices << QStringLiteral("records the journal did not take are kept in ") + side;
        return outcome;
    }
    outcome.notices << QStringLiteral("%1 not written either: %2").arg(side, side_refused)
                    << QStringLiteral("unsaved record: ") + QString::fromUtf8(row.left(row.size() - 2));
    return outcome;
}

QByteArray journal_close_off(qint64 quote_count, char last_byte)
{
    QByteArray bytes;
    if (quote_count % 2 != 0) {
        bytes = "\"\r\n";
    } else if (last_byte == '\r') {
        bytes = "\n";
    } else if (last_byte != '\n' && last_byte != 0) {
        bytes = "\r\n";
    }
    return bytes;
}

namespace {

// Whether a record starts at `at`, just past a CR LF: the end of a record
// before it (its duration, a number, or the header's last column) and a
// record's time after it, "...,1234\r\n2026-12-06T14:21:54.636+08:00,".
// Only a quoted value holding that very text looks the same, and the record
// after it would have to be the one a crash cut short there.
bool record_starts_at(const QByteArray &tail, int at)
{
    static const QRegularExpression time(
        QStringLiteral("\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}[+-]\\d\\d:\\d\\d,"));
    const int line_end = at - 2;
    int digits = line_end;
    while (digits > 0 && tail.at(digits - 1) >= '0' && tail.at(digits - 1) <= '9')
        --digits;
    const bool after_record = digits < line_end && digits > 0 && tail.at(digits - 1) == ',';
    const bool after_header = tail.left(line_end).endsWith("duration_ms");
    return (after_record || after_header)
           && time.match(QString::fromLatin1(tail.mid(at, 30)), 0, QRegularExpression::NormalMatch,
                         QRegularExpression::AnchoredMatchOption)
                  .hasMatch();
}

} // namespace

std::optional<QByteArray> journal_tail_close_off(const QByteArray &tail, bool whole_file)
{
    int start = whole_file ? 0 : -1;
    for (int at = tail.lastIndexOf("\r\n"); at >= 0; at = at > 0 ? tail.lastIndexOf("\r\n", at - 1) : -1) {
        if (record_starts_at(tail, at + 2)) {
            start = at + 2;
            break;
        }
    }
    if (start < 0)
        return std::nullopt;
    return journal_close_off(tail.mid(start).count('"'), tail.isEmpty() ? 0 : tail.at(tail.size() - 1));
}
