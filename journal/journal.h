#pragma once

#include "journal/operation_record.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// Where one record went, and what the operator is to be told about it.
struct JournalOutcome
{
    bool in_journal = false;  // in kv20-journal.csv itself
    // Where the record is: the journal, the side file or the last-resort
    // file, as a native path; empty when it is nowhere.
    QString kept_in;
    // The record as the journal would hold it (no line end) when it is
    // nowhere: its last copy is the operator's.
    QString unsaved;
    QStringList notices;      // for the log pane or standard error, in order
    // The record's id and station as kept (the journal gives both where the
    // record had none).
    QString record_id, station;
};

// The results journal: kv20-journal.csv, one CSV record per operation,
// shared by the window and the command-line tool, appended by several
// processes at once. Records are appended whole and flushed to the disk;
// earlier records are never rewritten.
//
// A record the journal does not take within lock_wait_ms (another program
// holds it, the disk is full, a folder stands in its place) goes at once to
// the process's side file beside it, kv20-journal-unsaved-<yyyyMMdd-HHmmss>.csv,
// in the same format; the next record tries the journal again. When the side
// file fails too, the record goes to a side file of the same name in the
// last-resort folder, if the journal has one (a folder on another disk than
// the working directory's); failing that, the record itself is among the
// notices, so that the operator can still copy it.
//
// A journal whose header lacks columns this version writes is renamed to
// kv20-journal-older-<stamp>.csv under its lock before the next record, so
// that records already written stay as they are and every new record lands
// under a header that names all its columns.
class Journal
{
public:
    static const QString default_path;
    static constexpr int lock_wait_ms = 2000;

    explicit Journal(QString path = default_path, QString last_resort_folder = QString());

    // Appends one record durably, to the journal or else to the side file.
    // Safe to call from any thread; never waits much longer than twice
    // lock_wait_ms.
    JournalOutcome append(const OperationRecord &record) const;

    QString path() const { return path_; }
    // The station every record of this journal is made at (station_name()).
    QString station() const { return station_; }
    // This process's side file for this journal (named at its first use).
    QString side_file_path() const;
    // The side file of the same name in the last-resort folder; empty
    // without one.
    QString last_resort_path() const;

    // The header row and one record as they stand in the file, CR LF ended.
    static QByteArray header_row();
    static QByteArray record_row(const OperationRecord &record);
    // A time as the journal's time column has it.
    static QString time_text(const QDateTime &time);
    // One value as a journal row holds it: stored (no raw line break, no
    // live formula), quoted by RFC 4180 where it holds a comma or a quote.
    static QByteArray csv_field(const QString &value);

private:
    QString path_;
    QString station_;
    QString last_resort_;
};
