#pragma once

#include "journal/journal_row.h"
#include "journal/journal_scanner.h"

#include <QString>

// A journal's rows one after the other, each a record or an unreadable row
// with its reason, by the one rule every reader holds them to (the report,
// the upload, the station's Shift report): the first line must be the
// journal's header; blank lines and the header again (where a side file was
// pasted in with its own) are passed over; a row that does not read costs
// that row alone, and the reader goes on with the next line.
class JournalReader
{
public:
    explicit JournalReader(size_t read_bytes = JournalScanner::default_read_bytes) : scanner_(read_bytes) {}

    // False with *error set, the path first, when the file cannot be read as
    // a journal.
    bool open(const QString &path, QString *error);
    // Reads on at `offset`, the start of line `line` (a position a reader of
    // this journal reached before).
    bool seek(qint64 offset, qint64 line) { return scanner_.seek(offset, line); }
    // Lets the file go (a reader never holds it across a database's round
    // trip); reopen() and seek() go on with the header read at open().
    void close() { scanner_.close(); }
    bool reopen(QString *error);

    // The next row; false at the end of the file or on a read error.
    // *reason is null for a record, else why the row does not read.
    bool next(const char **reason);
    const JournalScanner::Row &row() const { return row_; }
    const JournalRow &record() const { return record_; }
    const JournalColumns &columns() const { return columns_; }
    // The offset and line just past the header.
    qint64 records_start() const { return records_start_; }
    qint64 records_line() const { return records_line_; }
    QString read_error() const { return scanner_.read_error(); }

private:
    QString path_;
    JournalScanner scanner_;
    JournalScanner::Row row_;
    JournalColumns columns_;
    JournalRow record_;
    qint64 records_start_ = 0, records_line_ = 2;
};
