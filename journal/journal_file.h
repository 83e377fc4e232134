#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// The platform's part of a journal append: under an exclusive lock on the
// file (held against other processes too), create it with `preamble` when it
// is new or empty, close off a record that a crash cut short (a closing quote
// where one is open, then CR LF), append `row` in one write and flush it to
// the disk. Empty on success, else the reason.
//
// Never waits longer than lock_wait_ms for the file or its lock: a program
// that holds either (another writer stuck on a network drive, a spreadsheet
// that opened the file without write sharing) must not hold up an operation.
// A write or flush that fails part way is cut back to the length the file
// had before it, so that no half record stays behind.
QString append_journal_row(const QString &path, const QByteArray &preamble, const QByteArray &row, int lock_wait_ms);

// The bytes that close off a cut record, given how many quote characters the
// file holds and its last byte (0 for an empty file). Quotes inside a quoted
// value are doubled, so an odd count means the file ends inside one.
QByteArray journal_close_off(qint64 quote_count, char last_byte);

// How much of the file's end an append reads to judge its last record: far
// more than one record takes, so that an append costs the same whatever the
// journal's length.
constexpr int journal_tail_bytes = 64 * 1024;

// The close-off judged from the file's last bytes alone: from the start of
// its last record (the line after a record's duration and its CR LF, that
// begins with a record's time), or from the tail's start when it is the
// whole file. Nothing when the tail reaches back to no such start: the
// caller then counts the whole file's quotes.
std::optional<QByteArray> journal_tail_close_off(const QByteArray &tail, bool whole_file);
