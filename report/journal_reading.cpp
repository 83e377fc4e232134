#include "report/journal_reading.h"

#include "journal/label_journal.h"

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

bool read_label_journals(const QString &folder, ShiftTally *tally, QString *error)
{
    bool all = true;
    for (const QString &file : LabelJournal::files_in(folder)) {
        const bool read = LabelJournal::read_rows(file, 0, 1, [tally](const QStringList &values, const JournalScanner::Row &) {
            tally->add_label_event(values);
            return true;
        });
        if (!read) {
            *error = QStringLiteral("%1: cannot be read").arg(file);
            all = false;
        }
    }
    return all;
}
