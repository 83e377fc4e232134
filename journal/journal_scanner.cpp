#include "journal/journal_scanner.h"

#include <cstring>

bool JournalScanner::open(const QString &path, QString *error)
{
    file_.setFileName(path);
    if (!file_.open(QIODevice::ReadOnly)) {
        *error = file_.errorString();
        return false;
    }
    // A device or a pipe in a journal's place (a full disk simulated with
    // /dev/full, a FIFO) would be read for ever: a journal is a file.
    if (file_.isSequential()) {
        file_.close();
        *error = QStringLiteral("not a file (a device or a pipe)");
        return false;
    }
    return true;
}

bool JournalScanner::seek(qint64 offset, qint64 line)
{
    if (!file_.seek(offset))
        return false;
    begin_ = end_ = 0;
    base_ = offset;
    at_eof_ = false;
    line_ = line;
    second_line_ = std::string::npos;
    return true;
}

// Moves the unread bytes to the front and reads more behind them.
bool JournalScanner::fill()
{
    if (at_eof_)
        return false;
    if (begin_ > 0) {
        std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
        end_ -= begin_;
        base_ += qint64(begin_);
        begin_ = 0;
    }
    // No more room than the file has left to give (and a byte to see it
    // grow or end): a short journal costs its own size, not a read's
    // megabyte, zeroed on every open.
    const qint64 left = file_.size() - file_.pos();
    const size_t want = left >= 0 && quint64(left) < read_bytes_ ? size_t(left) + 1 : read_bytes_;
    if (buffer_.size() - end_ < want)
        buffer_.resize(end_ + want);
    const qint64 got = file_.read(buffer_.data() + end_, qint64(want));
    if (got < 0)
        read_error_ = file_.errorString();
    if (got <= 0) {
        at_eof_ = true;
        return false;
    }
    end_ += size_t(got);
    return true;
}

void JournalScanner::take_first_line_only()
{
    if (second_line_ == std::string::npos)
        return;
    begin_ = second_line_;
    line_ = second_line_number_;
    second_line_ = std::string::npos;
}

bool JournalScanner::next(Row *row)
{
    row->fields.clear();
    row->torn = row->too_long = row->bad_quotes = false;
    row->bytes = std::string_view();
    second_line_ = std::string::npos;
    // The file opens with a byte-order mark, and a side file appended with
    // cat brings its own before its header in mid-file.
    while (end_ - begin_ < 3 && fill()) {
    }
    if (end_ - begin_ >= 3 && std::memcmp(buffer_.data() + begin_, "\xEF\xBB\xBF", 3) == 0)
        begin_ += 3;
    row->line = line_;
    row->start = base_ + qint64(begin_);
    size_t scan = begin_;
    size_t first_line_end = std::string::npos;  // from begin_
    bool quoted = false;
    qint64 lines = 0;
    for (;;) {
        // Line ends and quotes are the only bytes that matter here; the
        // parity of quotes tells whether a line end is inside a field, as it
        // does for the writer when it closes off a torn record.
        const char *p = buffer_.data() + scan, *stop = buffer_.data() + end_;
        const char *record_end = nullptr;
        while (p < stop) {
            const char *nl = static_cast<const char *>(std::memchr(p, '\n', size_t(stop - p)));
            const char *segment_end = nl ? nl : stop;
            if (!lines_are_records_) {
                for (const char *q = p; (q = static_cast<const char *>(std::memchr(q, '"', size_t(segment_end - q))));
                     ++q)
                    quoted = !quoted;
            }
            if (!nl)
                break;
            if (lines++ == 0 && !row->too_long)
                first_line_end = size_t(nl - (buffer_.data() + begin_));
            if (!quoted) {
                record_end = nl;
                break;
            }
            p = nl + 1;
        }
        if (record_end) {
            const char *begin = buffer_.data() + begin_;
            const char *content_end = record_end > begin && record_end[-1] == '\r' ? record_end - 1 : record_end;
            // Held to the same limit whether or not it came in one read.
            if (row->too_long || size_t(content_end - begin) > max_record_bytes) {
                row->too_long = true;
            } else {
                split(begin, content_end, row);
                row->bytes = std::string_view(begin, size_t(record_end + 1 - begin));
                if (lines > 1) {
                    second_line_ = begin_ + first_line_end + 1;
                    second_line_number_ = line_ + 1;
                }
            }
            begin_ = size_t(record_end - buffer_.data()) + 1;
            line_ += lines;
            row->lines = lines;
            row->end = base_ + qint64(begin_);
            return true;
        }
        // An over-long record is dropped as it is read, so that a file that
        // is not CSV keeps memory bounded; its quotes still tell where it
        // ends, so that a long quoted value does not end it early.
        if (end_ - begin_ > max_record_bytes) {
            row->too_long = true;
            base_ += qint64(end_);
            begin_ = end_ = 0;
        }
        const size_t scanned = end_ - begin_;
        if (!fill()) {
            if (begin_ == end_ && !row->too_long)
                return false;
            // The file ends inside a record: torn.
            row->torn = true;
            if (!row->too_long) {
                split(buffer_.data() + begin_, buffer_.data() + end_, row);
                row->bytes = std::string_view(buffer_.data() + begin_, end_ - begin_);
                if (lines > 0) {
                    second_line_ = begin_ + first_line_end + 1;
                    second_line_number_ = line_ + 1;
                }
            }
            begin_ = end_;
            line_ += lines;
            row->lines = lines + 1;
            row->end = base_ + qint64(begin_);
            return true;
        }
        scan = begin_ + scanned;
    }
}

void JournalScanner::split(const char *begin, const char *end, Row *row)
{
    // Unescaped text is never longer than the record: views into the scratch
    // stay valid while it fills.
    scratch_.clear();
    scratch_.reserve(size_t(end - begin));
    const char *p = begin;
    for (;;) {
        if (p < end && *p == '"') {
            const size_t start = scratch_.size();
            ++p;
            for (;;) {
                const char *quote = static_cast<const char *>(std::memchr(p, '"', size_t(end - p)));
                if (!quote) {
                    scratch_.append(p, size_t(end - p));
                    p = end;
                    row->bad_quotes = true;  // unclosed (a torn record)
                    break;
                }
                scratch_.append(p, size_t(quote - p));
                p = quote + 1;
                if (p < end && *p == '"') {
                    scratch_ += '"';
                    ++p;
                    continue;
                }
                break;
            }
            row->fields.emplace_back(scratch_.data() + start, scratch_.size() - start);
            if (p < end && *p != ',')
                row->bad_quotes = true;
            const char *comma = static_cast<const char *>(std::memchr(p, ',', size_t(end - p)));
            if (!comma)
                return;
            p = comma + 1;
            continue;
        }
        const char *comma = static_cast<const char *>(std::memchr(p, ',', size_t(end - p)));
        const char *field_end = comma ? comma : end;
        if (std::memchr(p, '"', size_t(field_end - p)))
            row->bad_quotes = true;
        row->fields.emplace_back(p, size_t(field_end - p));
        if (!comma)
            return;
        p = comma + 1;
    }
}
