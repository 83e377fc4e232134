#include "journal/journal_file.h"

#include <algorithm>

namespace {

constexpr qint64 chunk_bytes = 64 * 1024;

// Whether the file ends inside a quoted value. Quotes inside a quoted value
// are doubled, so an odd count of the file's quotes means it does. Counted
// over the whole file: journals written before values lost their raw line
// breaks may hold a record over several lines, and only the count from the
// file's start is right for those too. This read happens only after a crash
// cut a record short, never on an ordinary append, which reads one byte.
bool ends_inside_quotes(qint64 file_size, const JournalReadAt &read_at, bool *inside)
{
    QByteArray chunk(int(chunk_bytes), Qt::Uninitialized);
    qint64 quotes = 0;
    for (qint64 offset = 0; offset < file_size; offset += chunk_bytes) {
        const qint64 size = std::min(chunk_bytes, file_size - offset);
        if (!read_at(offset, chunk.data(), size))
            return false;
        quotes += std::count(chunk.constData(), chunk.constData() + size, '"');
    }
    *inside = quotes % 2 != 0;
    return true;
}

} // namespace

bool journal_lead_in(qint64 file_size, const JournalReadAt &read_at, const QByteArray &preamble, QByteArray *lead_in)
{
    lead_in->clear();
    if (file_size <= preamble.size()) {
        QByteArray start(int(file_size), Qt::Uninitialized);
        if (!read_at(0, start.data(), file_size))
            return false;
        if (preamble.startsWith(start)) {
            *lead_in = preamble.mid(int(file_size));
            return true;
        }
    }
    char last = 0;
    if (!read_at(file_size - 1, &last, 1))
        return false;
    if (last == '\n')
        return true;
    bool inside = false;
    if (!ends_inside_quotes(file_size, read_at, &inside))
        return false;
    if (inside)
        *lead_in = "\"\r\n";
    else
        *lead_in = last == '\r' ? "\n" : "\r\n";
    return true;
}
