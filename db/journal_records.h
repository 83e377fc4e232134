#pragma once

#include "journal/journal_format.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <array>
#include <vector>

// A journal's records as the database takes them, read from a byte offset
// on: only records whose line end is already in the file (the one a writer
// is appending may be half there), columns found by the header's names, so
// that older journals read too. Values are the original ones (the journal's
// text marks undone), valid UTF-8 without NUL bytes, as PostgreSQL's text
// holds them. A record without a record id, written before records had one,
// gets one derived from its station and its bytes: the same every time it is
// read, in this journal or in a copy.
class JournalRecords
{
public:
    struct Record
    {
        std::array<QByteArray, journal_format::column_count> values;  // by journal_format::Column
        qint64 end = 0;  // the offset just past its line end
    };
    struct Unreadable
    {
        qint64 offset = 0;  // where the record starts in the file
        QString reason;
    };

    // False with *error set when the file cannot be opened or has no
    // journal header.
    bool open(const QString &path, QString *error);
    // The offset just past the header.
    qint64 records_start() const { return records_start_; }
    // Up to `most` records from `offset` on, the unreadable ones in
    // *unreadable; `*end` is the offset past the last record looked at.
    // False on a read error.
    bool read(qint64 offset, int most, std::vector<Record> *records, std::vector<Unreadable> *unreadable, qint64 *end,
              QString *error);
    // Whole records from `offset` to the end of the file.
    qint64 count_from(qint64 offset);
    // The station of records that name none: the journal's folder.
    QString default_station() const { return default_station_; }

private:
    bool parse(const QByteArray &raw, Record *record, QString *reason) const;

    QFile file_;
    qint64 records_start_ = 0;
    int index_[journal_format::column_count] = {};
    int width_ = 0;
    QByteArray header_line_;
    QString default_station_;
};
