#pragma once

#include "journal/operation_record.h"

#include <QSet>
#include <QString>

class JournalReader;

// The modules that passed the recipe's operation for its work order, from
// this station's journals and as they pass: what the shift's target counts
// when the recipe names a work order. A module served again counts once,
// and a restart of the station does not set the count back to nothing.
class WorkOrderPasses
{
public:
    WorkOrderPasses(const QString &work_order, const QString &operation);

    // An ok record read back from this station's journals (see
    // read_ok_records).
    void take(const JournalReader &reader);
    // A record just kept: an ok one of the work order counts from now on.
    void add(const OperationRecord &record);
    int count() const { return int(modules.size()); }

private:
    QString work_order, operation;
    // As the journal's rows hold them.
    QByteArray wanted_order, wanted_operation;
    QSet<QString> modules;  // by ServedModules::key, without the image
};
