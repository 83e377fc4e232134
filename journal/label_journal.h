#pragma once

#include "journal/journal_scanner.h"
#include "journal/operation_record.h"

#include <QList>
#include <QString>

#include <functional>
#include <string_view>

// kv20-labels.csv, beside the records' journal: one line a label event, under
// the journal's own rules (appended whole under the file's lock and flushed
// to the disk, a torn last line closed off before the next, a side file
// kv20-labels-unsaved-<stamp>.csv when the file does not take a line). The
// records' journal stays append-only: a pass is kept there before its label
// is due, and its label's life is kept here, by the pass's record_id.
namespace label_journal_format {
inline constexpr std::string_view file_name = "kv20-labels.csv";
inline constexpr std::string_view side_file_prefix = "kv20-labels-unsaved-";
// The pass's fields after the event's own: what a label waiting across a
// restart of the station is printed from.
inline constexpr std::string_view columns[] = {
    "time", "record_id", "event", "printer", "detail", "record_time", "device_number", "imei_or_mac",
    "iccid_or_audio_version", "device_version", "slot", "station", "work_order", "product", "operator"};
// Where each is among the columns.
enum Column {
    time, record_id, event, printer, detail, record_time, device_number, imei_or_mac, iccid_or_audio_version,
    device_version, slot, station, work_order, product, operator_id
};
inline constexpr std::string_view event_words[] = {"waiting", "printed", "reprinted", "given up"};
} // namespace label_journal_format

struct LabelEvent
{
    // waiting: due and not yet printed (the printer away, or not asked yet);
    // given up: never to print, the report lists it.
    enum Kind { waiting, printed, reprinted, given_up };
    Kind kind = waiting;
    QDateTime time;
    QString printer;  // as [label] printer names it
    QString detail;   // why it waits or was given up
    OperationRecord record;  // the pass: its id, time and the fields a label shows
};

class LabelJournal
{
public:
    // The label journal beside the records' journal in `folder`.
    explicit LabelJournal(const QString &folder);

    QString path() const { return path_; }
    // Appends one event durably: empty, else why neither the journal nor the
    // side file took it. From any thread.
    QString append(const LabelEvent &event) const;
    // The labels still owed, in the order they fell due: each pass's latest
    // waiting event that neither a print nor a giving up followed, from the
    // journal and its side files.
    QList<LabelEvent> owed() const;

    static QByteArray header_row();
    static QByteArray event_row(const LabelEvent &event);

    // The label journal and its side files in `folder`, the journal first.
    static QStringList files_in(const QString &folder);
    // Whether a file's name is the label journal's or one of its side files'.
    static bool is_label_file(const QString &path);
    // The event rows of one file from `from_offset` (the start of line
    // `from_line`; 0: the file's start) on, each as its original values by
    // label_journal_format::columns and the row it stands in. Rows cut short,
    // too long, not CSV or naming no event (the header a side file was
    // pasted in with) are passed over; `take` returning false stops. False
    // when the file cannot be read.
    static bool read_rows(const QString &file, qint64 from_offset, qint64 from_line,
                          const std::function<bool(const QStringList &values, const JournalScanner::Row &row)> &take);
    // The index of an event word in label_journal_format::event_words, or -1.
    static int kind_of(const QString &word);
    // An event as its row's values say; kind, time and the pass's fields.
    static LabelEvent event_of(const QStringList &values);
    // Where the event rows of a file start: just past its header; -1 when
    // the file cannot be read.
    static qint64 rows_start(const QString &file, qint64 *line);

private:
    QString path_;
    QString side_path_;
};
