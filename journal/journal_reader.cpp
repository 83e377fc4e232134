#include "journal/journal_reader.h"

#include <QFileInfo>

bool JournalReader::open(const QString &path, QString *error)
{
    const QFileInfo info(path);
    if (!info.exists()) {
        *error = QStringLiteral("%1: no such file").arg(path);
        return false;
    }
    if (info.isDir()) {
        *error = QStringLiteral("%1: a folder, not a journal").arg(path);
        return false;
    }
    path_ = path;
    QString why;
    if (!scanner_.open(path, &why)) {
        *error = QStringLiteral("%1: cannot be read: %2").arg(path, why);
        return false;
    }
    if (!scanner_.next(&row_)) {
        *error = scanner_.read_error().isEmpty() ? QStringLiteral("%1: empty, not a journal").arg(path)
                                                 : QStringLiteral("%1: cannot be read: %2").arg(path, scanner_.read_error());
        return false;
    }
    QString missing;
    if (!columns_.read_header(row_, &missing)) {
        *error = QStringLiteral("%1: not a results journal (its first line is not the journal's header; "
                                "missing columns: %2)")
                     .arg(path, missing.isEmpty() ? QStringLiteral("none, but it is cut off") : missing);
        return false;
    }
    scanner_.set_lines_are_records(columns_.lines_are_records());
    records_start_ = row_.end;
    records_line_ = row_.line + row_.lines;
    return true;
}

bool JournalReader::next(const char **reason)
{
    for (;;) {
        if (!scanner_.next(&row_))
            return false;
        // A blank line holds no record; a header again is where side-file
        // records were pasted in with their header.
        if ((row_.fields.size() == 1 && row_.fields[0].empty() && !row_.too_long) || columns_.is_header(row_))
            continue;
        *reason = columns_.parse(row_, &record_);
        // Quotes that do not pair up in an older journal, where a line break
        // may belong to a value: the line with the open quote is the bad row
        // (also where the file ends inside the quotes: no record's end will
        // ever come), and the next line is read as a row of its own.
        if (*reason && row_.lines > 1 && !row_.too_long) {
            const qint64 first_line = qint64(row_.bytes.find('\n')) + 1;
            scanner_.take_first_line_only();
            row_.bytes = row_.bytes.substr(0, size_t(first_line));
            row_.end = row_.start + first_line;
            row_.lines = 1;
            row_.torn = false;
            *reason = "quotes out of place";
        }
        return true;
    }
}

bool JournalReader::reopen(QString *error)
{
    QString why;
    if (scanner_.open(path_, &why))
        return true;
    *error = QStringLiteral("%1: cannot be read: %2").arg(path_, why);
    return false;
}
