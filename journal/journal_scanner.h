#pragma once

#include <QFile>
#include <QString>

#include <string>
#include <string_view>
#include <vector>

// An RFC 4180 reader that streams a journal file through one buffer: large
// reads, fields as views into the buffer (a quoted field into a scratch
// copy), no allocation per record once the buffer has grown. A record ends
// at a line end outside quotes (CR LF, or LF alone from foreign tools); a
// UTF-8 byte-order mark at the start of a record is skipped (the file's, or
// a side file's appended with its header).
//
// A record ends at the first line end outside quotes, or at the first line
// end at all once lines_are_records() is set (a journal of one record a line,
// journal_format.h).
//
// Faults are the caller's to judge, never a reason to stop: a record cut off
// at the end of the file, one longer than max_record_bytes (dropped as it is
// read up to its end, which keeps memory bounded on a file that is not CSV),
// and quotes that do not follow the format are flagged on the row.
class JournalScanner
{
public:
    static constexpr size_t default_read_bytes = 1 << 20;
    // A module's reply is written whole: records of 100 KB are expected.
    static constexpr size_t max_record_bytes = 1 << 20;

    // `read_bytes` at a time from the file.
    explicit JournalScanner(size_t read_bytes = default_read_bytes) : read_bytes_(read_bytes) {}

    struct Row
    {
        std::vector<std::string_view> fields;  // valid until the next call
        qint64 line = 0;        // the physical line the record starts on, from 1
        qint64 lines = 0;       // the physical lines it spans
        qint64 start = 0, end = 0;  // its bytes in the file, its line end included
        std::string_view bytes;     // those bytes; empty when too_long
        bool torn = false;      // the file ended inside it
        bool too_long = false;  // longer than max_record_bytes; no fields
        bool bad_quotes = false;
    };

    // False with *error set when the file cannot be opened.
    bool open(const QString &path, QString *error);
    void close() { file_.close(); }
    // Every line a record of its own from the next record on.
    void set_lines_are_records(bool on) { lines_are_records_ = on; }
    // Reads on at `offset`, the start of physical line `line`. False when the
    // file cannot be positioned there.
    bool seek(qint64 offset, qint64 line);
    // The next record; false at the end of the file or on a read error.
    bool next(Row *row);
    // After a record over several lines that does not read, the next record
    // starts on its second line: a stray quote in an older journal then
    // costs its own line, not every line up to the next quote.
    void take_first_line_only();
    // Empty unless a read failed part way.
    QString read_error() const { return read_error_; }

private:
    bool fill();
    void split(const char *begin, const char *end, Row *row);

    const size_t read_bytes_;
    QFile file_;
    std::vector<char> buffer_;
    size_t begin_ = 0, end_ = 0;
    qint64 base_ = 0;  // the file offset of buffer_[0]
    bool at_eof_ = false;
    bool lines_are_records_ = false;
    qint64 line_ = 1;
    // Where the last record's second line starts in the buffer, and its
    // number; npos when it had one line or is gone.
    size_t second_line_ = std::string::npos;
    qint64 second_line_number_ = 0;
    std::string scratch_;
    QString read_error_;
};
