#include "report/journal_reading.h"

#include "journal/journal_reader.h"
#include "report/shift_tally.h"

bool read_journal(const QString &path, const QString &station, ShiftTally *tally, QString *error, size_t read_bytes)
{
    JournalReader reader(read_bytes);
    if (!reader.open(path, error))
        return false;
    const int file = tally->add_file(path, station);
    const char *reason = nullptr;
    while (reader.next(&reason)) {
        if (!reason)
            reason = tally->add(reader.record(), file);
        if (reason)
            tally->add_unreadable(file, reader.row().line, reason);
    }
    if (!reader.read_error().isEmpty()) {
        *error = QStringLiteral("%1: cannot be read: %2").arg(path, reader.read_error());
        return false;
    }
    return true;
}
