#pragma once

#include "journal/journal.h"
#include "journal/operation_record.h"

#include <QString>

// What line mode tells the front end in front of it (a terminal's printer, the
// station's tiles): a module arriving in its slot, its progress, its result
// and its departure. A module is known by the id arrival() returned: a slot
// or a port name comes back with the next module, and a late result of the
// one before must not land on the new one.
class LineModeView
{
public:
    virtual ~LineModeView() = default;

    // slot: the module's position on the USB tree; empty where discovery
    // cannot say.
    virtual int arrival(const QString &port, const QString &slot, const QString &operation) = 0;
    virtual void progress(int id, qint64 bytes, qint64 total) = 0;
    // already_done: the module had the operation just now and heard nothing
    // more (no record). kept: where the journal put the record (not in the
    // journal itself: in a side file, or nowhere).
    virtual void finished(int id, const OperationRecord &record, bool already_done, const JournalOutcome &kept) = 0;
    virtual void departure(int id) = 0;
    // A line for the operator outside any module's (journal notices).
    virtual void notice(const QString &line) = 0;
};
