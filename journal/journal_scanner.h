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
        bool torn = false;      // the file ended inside it
        bool too_long = false;  // longer than max_record_bytes; no fields
        bool bad_quotes = false;
    };

    // False with *error set when the file cannot be opened.
    bool open(const QString &path, QString *error);
    // The next record; false at the end of the file or on a read error.
    bool next(Row *row);
    // Empty unless a read failed part way.
    QString read_error() const { return read_error_; }

private:
    bool fill();
    void split(const char *begin, const char *end, Row *row);

    const size_t read_bytes_;
    QFile file_;
    std::vector<char> buffer_;
    size_t begin_ = 0, end_ = 0;
    bool at_eof_ = false;
    qint64 line_ = 1;
    std::string scratch_;
    QString read_error_;
};
