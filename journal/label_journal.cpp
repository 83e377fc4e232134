#include "journal/label_journal.h"

#include "journal/journal.h"
#include "journal/journal_file.h"
#include "journal/journal_format.h"
#include "journal/journal_scanner.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>

#include <algorithm>

namespace L = label_journal_format;

namespace {

QString text(std::string_view view)
{
    return QString::fromUtf8(view.data(), int(view.size()));
}

QString *field_of(OperationRecord &r, int column)
{
    QString *fields[] = {nullptr, &r.record_id, nullptr, nullptr, nullptr, nullptr, &r.device_number, &r.imei_or_mac,
                         &r.iccid_or_audio_version, &r.device_version, &r.slot, &r.station, &r.work_order, &r.product,
                         &r.operator_id};
    static_assert(sizeof fields / sizeof fields[0] == sizeof label_journal_format::columns / sizeof label_journal_format::columns[0],
                  "a field for every column");
    return fields[column];
}

} // namespace

LabelJournal::LabelJournal(const QString &folder)
    : path_(QDir(folder).filePath(text(label_journal_format::file_name)))
    , side_path_(QDir(folder).filePath(
          text(label_journal_format::side_file_prefix)
          + QDateTime::currentDateTime().toString(text(journal_format::side_file_stamp)) + text(journal_format::side_file_suffix)))
{
}

QByteArray LabelJournal::header_row()
{
    QByteArray row;
    for (const std::string_view column : label_journal_format::columns)
        row += (row.isEmpty() ? "" : ",") + QByteArray(column.data(), int(column.size()));
    return row + QByteArray(journal_format::line_end.data(), int(journal_format::line_end.size()));
}

QByteArray LabelJournal::event_row(const LabelEvent &event)
{
    OperationRecord record = event.record;
    QByteArray row;
    for (int c = 0; c < int(std::size(label_journal_format::columns)); ++c) {
        QString value;
        switch (c) {
        case 0: value = Journal::time_text(event.time); break;
        case 2: value = text(label_journal_format::event_words[event.kind]); break;
        case 3: value = event.printer; break;
        case 4: value = event.detail; break;
        case 5: value = Journal::time_text(record.started); break;
        default: value = *field_of(record, c);
        }
        row += (c ? "," : "") + Journal::csv_field(value);
    }
    return row + QByteArray(journal_format::line_end.data(), int(journal_format::line_end.size()));
}

QString LabelJournal::append(const LabelEvent &event) const
{
    const QByteArray preamble =
        QByteArray(journal_format::byte_order_mark.data(), int(journal_format::byte_order_mark.size())) + header_row();
    const QByteArray row = event_row(event);
    const QString refused = append_journal_row(path_, preamble, row, Journal::lock_wait_ms);
    if (refused.isEmpty())
        return QString();
    const QString side_refused = append_journal_row(side_path_, preamble, row, Journal::lock_wait_ms);
    if (side_refused.isEmpty())
        return QString();
    return QStringLiteral("%1: %2; %3: %4")
        .arg(QDir::toNativeSeparators(path_), refused, QDir::toNativeSeparators(side_path_), side_refused);
}

QStringList LabelJournal::files_in(const QString &folder)
{
    const QDir dir(folder);
    QStringList files;
    if (QFileInfo(dir.filePath(text(label_journal_format::file_name))).isFile())
        files << dir.filePath(text(label_journal_format::file_name));
    const QString side_pattern = text(label_journal_format::side_file_prefix) + QLatin1Char('*') + text(journal_format::side_file_suffix);
    for (const QString &name : dir.entryList({side_pattern}, QDir::Files, QDir::Name))
        files << dir.filePath(name);
    return files;
}

bool LabelJournal::is_label_file(const QString &path)
{
    const QString name = QFileInfo(path).fileName();
    return name == text(label_journal_format::file_name) || name.startsWith(text(label_journal_format::side_file_prefix));
}

namespace {

// The header's columns by label_journal_format::columns, -1 where absent;
// empty when the file has no header row.
std::vector<int> column_index(JournalScanner *scanner, JournalScanner::Row *row)
{
    std::vector<int> index;
    if (!scanner->next(row) || row->torn || row->too_long || row->bad_quotes)
        return index;
    for (const std::string_view column : label_journal_format::columns) {
        const auto at = std::find(row->fields.begin(), row->fields.end(), column);
        index.push_back(at == row->fields.end() ? -1 : int(at - row->fields.begin()));
    }
    return index;
}

} // namespace

qint64 LabelJournal::rows_start(const QString &file, qint64 *line)
{
    JournalScanner scanner;
    QString error;
    if (!scanner.open(file, &error))
        return -1;
    scanner.set_lines_are_records(true);
    JournalScanner::Row row;
    if (column_index(&scanner, &row).empty()) {
        *line = 1;
        return 0;
    }
    *line = row.line + row.lines;
    return row.end;
}

bool LabelJournal::read_rows(const QString &file, qint64 from_offset, qint64 from_line,
                             const std::function<bool(const QStringList &, const JournalScanner::Row &)> &take)
{
    JournalScanner scanner;
    QString error;
    if (!scanner.open(file, &error))
        return false;
    scanner.set_lines_are_records(true);
    JournalScanner::Row row;
    const std::vector<int> index = column_index(&scanner, &row);
    if (index.empty())
        return scanner.read_error().isEmpty();
    if (from_offset > row.end && !scanner.seek(from_offset, from_line))
        return false;
    std::string scratch;
    QStringList values;
    while (scanner.next(&row)) {
        if (row.torn || row.too_long || row.bad_quotes)
            continue;
        values.clear();
        for (const int at : index)
            values << (at < 0 || at >= int(row.fields.size())
                           ? QString()
                           : text(journal_format::original_value(row.fields[size_t(at)], &scratch)));
        if (kind_of(values[L::event]) < 0)
            continue;
        if (!take(values, row))
            break;
    }
    return scanner.read_error().isEmpty();
}

int LabelJournal::kind_of(const QString &word)
{
    const std::string w = word.toStdString();
    const auto *words = std::begin(label_journal_format::event_words);
    const auto *found = std::find(words, std::end(label_journal_format::event_words), w);
    return found == std::end(label_journal_format::event_words) ? -1 : int(found - words);
}

LabelEvent LabelJournal::event_of(const QStringList &values)
{
    LabelEvent event;
    event.kind = LabelEvent::Kind(kind_of(values[L::event]));
    event.time = QDateTime::fromString(values[L::time], Qt::ISODateWithMs);
    event.printer = values[L::printer];
    event.detail = values[L::detail];
    event.record.started = QDateTime::fromString(values[L::record_time], Qt::ISODateWithMs);
    for (int c = 6; c < int(std::size(label_journal_format::columns)); ++c)
        *field_of(event.record, c) = values[c];
    event.record.record_id = values[L::record_id];
    event.record.ok = true;
    return event;
}

QList<LabelEvent> LabelJournal::owed() const
{
    // Every event, then by time: a file that did not take a line sent it to
    // a side file, so a pass's waiting and its printing may stand in two.
    std::vector<LabelEvent> events;
    for (const QString &file : files_in(QFileInfo(path_).absolutePath())) {
        read_rows(file, 0, 1, [&events](const QStringList &values, const JournalScanner::Row &) {
            if (!values[L::record_id].isEmpty())
                events.push_back(event_of(values));
            return true;
        });
    }
    // Within a millisecond a label falls due before it prints.
    std::stable_sort(events.begin(), events.end(), [](const LabelEvent &a, const LabelEvent &b) {
        return a.time != b.time ? a.time < b.time : (a.kind == LabelEvent::waiting && b.kind != LabelEvent::waiting);
    });
    // By record id: its latest waiting event, or none once it printed or
    // was given up; listed in the order each first fell due.
    QHash<QString, int> latest;
    std::vector<const LabelEvent *> due;
    for (const LabelEvent &event : events) {
        const QString &id = event.record.record_id;
        if (event.kind == LabelEvent::waiting) {
            if (!latest.contains(id)) {
                latest.insert(id, int(due.size()));
                due.push_back(&event);
            } else {
                due[size_t(latest.value(id))] = &event;
            }
        } else if (event.kind != LabelEvent::reprinted && latest.contains(id)) {
            due[size_t(latest.take(id))] = nullptr;
        }
    }
    QList<LabelEvent> owed;
    for (const LabelEvent *event : due) {
        if (event)
            owed << *event;
    }
    return owed;
}
