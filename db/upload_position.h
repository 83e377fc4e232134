#pragma once

#include "db/journal_records.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>

// How far a journal's records are in one database: a file beside the
// journal, <journal>.uploaded, replaced whole (written aside, flushed,
// renamed) and only after the database committed the records before that
// place. A position lost or doubted costs a resend, which the database
// ignores record by record; a position ahead of the database would lose
// records, which is why nothing writes it before the commit.
//
// A position proves itself before it is trusted: it is bound to the
// database's identity (db init gives it), not to how the URL is written; the
// database must still hold the record it names as the last one sent (an
// emptied or restored database does not); and the journal's bytes must still
// be the ones it was read from (the line just before the place, and each
// unreadable row it counts, by their SHA-256: a line deleted or mended in an
// editor shows). Any doubt means reading the journal again from its start.
struct UploadPosition
{
    QByteArray database;  // the database's identity
    JournalRecords::Place place;
    QByteArray last_record;  // the id of the last record sent; empty: none yet
    // The rows before the place that do not read: counted by every upload
    // until a person mends them or sets them aside.
    QList<JournalRecords::Unreadable> unreadable;

    static QString file_for(const QString &journal);
    // The saved position; false when there is none that this program reads.
    static bool load(const QString &journal, UploadPosition *position);
    bool save(const QString &journal, QString *error) const;
    // Whether the journal's bytes are still those it names.
    bool fits(const JournalRecords &records) const;
    // The same of any file whose rows start at `rows_start`.
    bool fits(const QString &file, qint64 rows_start) const;

private:
    bool fits_with(qint64 rows_start, const std::function<bool(qint64, qint64, const QByteArray &)> &holds) const;
};
