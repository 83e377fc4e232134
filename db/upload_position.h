#pragma once

#include <QByteArray>
#include <QString>

// How far a journal's records are in one database: a file beside the
// journal, <journal>.uploaded, replaced whole (written aside, flushed,
// renamed) and only after the database committed the records before that
// offset. A position lost or stale costs a resend, which the database
// ignores record by record; a position ahead of the database would lose
// records, which is why nothing writes it before the commit.
struct UploadPosition
{
    QByteArray database;  // whom the offset is for: PgLink::describe() of the URL
    qint64 offset = 0;
    // The journal's first bytes up to the offset (at most head_bytes): a
    // journal replaced by another under the same name (set aside, deleted,
    // copied over) starts again from its beginning.
    QByteArray head_sha256;
    static constexpr qint64 head_bytes = 4096;

    static QString file_for(const QString &journal);
    // The saved position for `database`, or the start when there is none
    // that fits the journal as it now stands.
    static qint64 load(const QString &journal, const QByteArray &database);
    static bool save(const QString &journal, const QByteArray &database, qint64 offset, QString *error);
};
