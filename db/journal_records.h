#pragma once

#include "journal/journal_format.h"
#include "journal/journal_reader.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <functional>
#include <vector>

// A journal's records as the database takes them, read by the journal's one
// reader from a position on, in batches, the file let go between them: only
// records whose line end is already in the file (the one a writer is
// appending may be half there). Values are the original ones, valid UTF-8
// without NUL bytes, as PostgreSQL's text holds them; the record's wall and
// UTC times are worked out here, by the reader's rule, so that the database
// never refuses a time the report reads. A record without a record id,
// written before records had one, gets one derived from its station and its
// bytes: the same every time it is read, in this journal or in a copy.
class JournalRecords
{
public:
    struct Record
    {
        std::array<QByteArray, journal_format::column_count> values;  // by journal_format::Column
        QByteArray wall_time, utc_time;  // as the database's timestamp and timestamptz read them
    };
    // A row that does not read: where it is, its bytes' SHA-256 (to tell
    // whether it is still there, unmended) and why.
    struct Unreadable
    {
        qint64 start = 0, end = 0, line = 0;
        QByteArray sha256;
        QString reason;
    };
    // Where reading stands: just past a line, and the line before it.
    struct Place
    {
        qint64 offset = 0, line = 0;
        qint64 last_start = 0;    // where the line before offset starts
        QByteArray last_sha256;   // of that line's bytes, its line end included
    };
    struct Batch
    {
        std::vector<Record> records;
        std::vector<Unreadable> unreadable;
        Place end;  // past the last row taken
    };

    // False with *error set when the file cannot be read as a journal.
    bool open(const QString &path, QString *error);
    // The place just past the header.
    Place start() const;
    // Up to `most` records from `from` on, and the unreadable rows among
    // them. False on a read error.
    bool read(const Place &from, int most, Batch *batch, QString *error);
    // Whole records from `from` to the end of the file; stops early, with
    // what it counted, once `stop` says so.
    qint64 count_from(const Place &from, const std::function<bool()> &stop = {});
    // Whether the bytes from `start` to `end` still hash to `sha256`.
    bool holds(qint64 start, qint64 end, const QByteArray &sha256) const;
    // The SHA-256 (hex) of a file's bytes from `start` to `end`; empty when
    // they cannot be read.
    static QByteArray sha256_of(const QString &path, qint64 start, qint64 end);

private:
    QString path_;
    JournalReader reader_;
    QString default_station_;
};
