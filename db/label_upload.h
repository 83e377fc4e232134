#pragma once

#include "db/journal_upload.h"

#include <QByteArray>
#include <QString>

#include <functional>

class PgLink;

// Sends a label journal's events past its saved position to
// kv20_label_events, as the records' upload sends records: batches of
// batch_events in one transaction each (INSERT ... ON CONFLICT DO NOTHING on
// the pass, the event and its instant, so that a resend adds nothing), the
// position (<file>.uploaded) saved only after the commit and trusted only
// while it proves itself: bound to the database's identity, its last event
// still in the database (a restored or emptied one is filled again), the
// line before it still the bytes it was read from. A row naming no pass (no
// UUID) or no time is counted unreadable and passed over.
struct LabelUpload
{
    static constexpr int batch_events = 5000;

    PgLink *link = nullptr;
    QByteArray database;
    std::function<bool()> stop;
    std::function<void(bool)> sending;

    // False with *error set when the file or the database failed.
    bool run(const QString &file, UploadCounts *counts, QString *error) const;
    // Events past the saved position, by the file alone.
    qint64 waiting(const QString &file) const;
};
