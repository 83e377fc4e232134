#pragma once

#include "journal/operation_record.h"

#include <QSet>
#include <QString>

// The modules that passed the recipe's operation for its work order, from
// this station's journals and as they pass: what the shift's target counts
// when the recipe names a work order. A module served again counts once,
// and a restart of the station does not set the count back to nothing.
class WorkOrderPasses
{
public:
    // Reads the journals in `journal_folder` (the journal, its side files,
    // the older journals) once.
    WorkOrderPasses(const QString &journal_folder, const QString &work_order, const QString &operation);

    // A record just kept: an ok one of the work order counts from now on.
    void add(const OperationRecord &record);
    int count() const { return int(modules.size()); }

private:
    QString work_order, operation;
    QSet<QString> modules;  // by ServedModules::key, without the image
};
