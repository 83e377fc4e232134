#include "report/journal_reading.h"

#include "journal/journal_row.h"
#include "report/shift_tally.h"

#include <QFileInfo>

bool read_journal(const QString &path, const QString &station, ShiftTally *tally, QString *error, size_t read_bytes)
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
    JournalScanner scanner(read_bytes);
    QString why;
    if (!scanner.open(path, &why)) {
        *error = QStringLiteral("%1: cannot be read: %2").arg(path, why);
        return false;
    }
    JournalScanner::Row row;
    JournalColumns columns;
    QString missing;
    if (!scanner.next(&row)) {
        *error = scanner.read_error().isEmpty() ? QStringLiteral("%1: empty, not a journal").arg(path)
                                                : QStringLiteral("%1: cannot be read: %2").arg(path, scanner.read_error());
        return false;
    }
    if (!columns.read_header(row, &missing)) {
        *error = QStringLiteral("%1: not a results journal (its first line is not the journal's header; "
                                "missing columns: %2)").arg(path, missing.isEmpty() ? QStringLiteral("none, but it is cut off") : missing);
        return false;
    }
    const int file = tally->add_file(path, station);
    JournalRow record;
    while (scanner.next(&row)) {
        // A blank line holds no record; a header again is where side-file
        // records were pasted in with their header.
        if ((row.fields.size() == 1 && row.fields[0].empty() && !row.too_long) || columns.is_header(row))
            continue;
        const char *reason = columns.parse(row, &record);
        if (!reason)
            reason = tally->add(record, file);
        if (reason)
            tally->add_unreadable(file, row.line, reason);
    }
    if (!scanner.read_error().isEmpty()) {
        *error = QStringLiteral("%1: cannot be read: %2").arg(path, scanner.read_error());
        return false;
    }
    return true;
}
