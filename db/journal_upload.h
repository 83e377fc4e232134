#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>

class PgLink;

struct UploadCounts
{
    qint64 sent = 0;           // new to the database
    qint64 already_there = 0;  // the database had them (a resend)
    qint64 unreadable = 0;     // rows that are no records the database can take
};

// Sends a journal's records past its saved position to kv20_records, in
// batches of batch_records, each in one transaction with one statement
// (INSERT ... ON CONFLICT (record_id) DO NOTHING, so that a resend after any
// failure adds nothing twice), and moves the position past a batch only once
// the database committed it. A position that does not prove itself
// (UploadPosition) is dropped and the journal read again from its start.
// The journal is open only while a batch is read, never across a round trip
// to the database.
struct JournalUpload
{
    static constexpr int batch_records = 5000;

    PgLink *link = nullptr;
    QByteArray database;  // the database's identity (db_schema::check)
    // Asked between batches: true ends the upload early, all committed
    // records' position saved.
    std::function<bool()> stop;
    // Told true as a batch goes out, false once it is committed or failed:
    // the one wait worth the grace of a stop.
    std::function<void(bool)> sending;
    // Each unreadable row, those counted before included:
    // "<journal>: line N: <reason>".
    std::function<void(const QString &)> unreadable;

    // False with *error set when the journal or the database failed; the
    // counts say what was done before.
    bool run(const QString &journal, UploadCounts *counts, QString *error) const;
    // Records of the journal past its saved position, and the unreadable
    // rows it counts, named; by the journal alone, without asking the
    // database. Cut short when `stop` says so.
    void waiting(const QString &journal, qint64 *records, QStringList *unreadable) const;
};

// Called, when set, where an upload cut short leaves the database and the
// saved position apart: "before-commit" and "before-position". Null in the
// programs; the reliability tests end the process there as a power loss
// would.
extern void (*journal_upload_checkpoint)(const char *where);
