#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

// The platform's part of a journal append: under an exclusive lock on the
// file (held against other processes too), put the lead-in journal_lead_in()
// judges in front of `row`, append both in one write and flush them to the
// disk. Empty on success, else the reason.
//
// Never waits longer than lock_wait_ms for the file or its lock: a program
// that holds either (another writer stuck on a network drive, a spreadsheet
// that opened the file without write sharing) must not hold up an operation.
// A write or flush that fails part way is cut back to the length the file
// had before it, so that no half record stays behind.
QString append_journal_row(const QString &path, const QByteArray &preamble, const QByteArray &row, int lock_wait_ms);

// Reads exactly `size` bytes at `offset`: false on an error, or when the file
// ends before them (a short read is retried, never taken for the end).
using JournalReadAt = std::function<bool(qint64 offset, char *buffer, qint64 size)>;

// What goes in front of the next record in a file of `file_size` bytes:
// - the preamble (byte-order mark and header) or the part of it still
//   missing, when the file holds no more than a beginning of it (new, empty
//   after a power loss, or cut inside the preamble);
// - nothing, when the file ends with a line end;
// - else the close-off of a record a crash cut short: a closing quote when
//   it ends inside a quoted value, then the line end.
// False when a read failed.
bool journal_lead_in(qint64 file_size, const JournalReadAt &read_at, const QByteArray &preamble, QByteArray *lead_in);

// Whether a file of `file_size` bytes begins with anything but `preamble` or
// a beginning of it: a journal written before its newest columns (whose
// header is a beginning of today's but ends early), or something other than
// a journal. Its records are never rewritten; the writer renames the file to
// older_journal_path() under its lock and starts a new one, so that every
// record of a journal has the columns its header names. False when a read
// failed.
bool journal_outdated(qint64 file_size, const JournalReadAt &read_at, const QByteArray &preamble, bool *outdated);

// A name beside `path` that no file has yet, for an outdated journal:
// kv20-journal-older-<yyyyMMdd-HHmmss>[-N].csv.
QString older_journal_path(const QString &path);
