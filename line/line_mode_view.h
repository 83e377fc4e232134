#pragma once

#include "db/background_upload.h"
#include "journal/journal.h"
#include "journal/operation_record.h"

#include <QString>

// The shift's figures as line mode counts them: each module's result once,
// whichever front end shows it.
struct LineCounts
{
    int ok = 0;
    int failed = 0;
    int already_done = 0;     // back from its update: no record
    int refused = 0;          // done before, blocked by the again policy: neither ok nor failed
    int again = 0;            // of ok: served again, the again policy warning
    int not_in_journal = 0;   // records that went to a side file, or nowhere
    int last_hour = 0;        // results (not "already done") in the last 60 minutes

    int served() const { return ok + failed; }
};

// What line mode tells the front end in front of it (a terminal's printer, the
// station's tiles): a module arriving in its slot, its progress, its result
// and its departure, the shift's counts and the upload's state. The view
// only draws: every count and every module id is line mode's. A module is
// known by its id: a slot or a port name comes back with the next module,
// and a late result of the one before must not land on the new one.
class LineModeView
{
public:
    virtual ~LineModeView() = default;

    // slot: the module's position on the USB tree; empty where discovery
    // cannot say.
    virtual void arrival(int id, const QString &port, const QString &slot, const QString &operation) = 0;
    virtual void progress(int id, qint64 bytes, qint64 total) = 0;
    // already_done: the module had the operation just now and heard nothing
    // more (no record). kept: where the journal put the record (not in the
    // journal itself: in a side file, or nowhere).
    virtual void finished(int id, const OperationRecord &record, bool already_done, const JournalOutcome &kept) = 0;
    virtual void departure(int id) = 0;
    // After every result, and once at the start.
    virtual void counts(const LineCounts &counts) = 0;
    // A line for the operator outside any module's (journal notices).
    virtual void notice(const QString &line) = 0;
    // The database upload's state, each change once.
    virtual void backlog(const BackgroundUpload::State &state) = 0;
};
