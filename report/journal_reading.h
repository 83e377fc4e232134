#pragma once

#include "journal/journal_scanner.h"

#include <QString>

class ShiftTally;

// Streams one journal into the tally as the station's: its first line must
// be the journal's header; blank lines and the header again (where a side
// file was pasted in with its own) are passed over, and every other record is
// taken or counted as an unreadable row. False with *error set, the path
// first, when the file cannot be read as a journal: figures without one
// station's file would mislead.
bool read_journal(const QString &path, const QString &station, ShiftTally *tally, QString *error,
                  size_t read_bytes = JournalScanner::default_read_bytes);

// The label journal and its side files in `folder` into the tally: what
// became of the labels of its passes. A file that cannot be read is passed
// over; false when one was, with *error naming it.
bool read_label_journals(const QString &folder, ShiftTally *tally, QString *error);
