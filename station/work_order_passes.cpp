#include "station/work_order_passes.h"

#include "journal/journal_reader.h"
#include "runner/served_modules.h"

namespace {

QString text(std::string_view view)
{
    return QString::fromUtf8(view.data(), int(view.size()));
}

} // namespace

WorkOrderPasses::WorkOrderPasses(const QString &work_order, const QString &operation)
    : work_order(work_order), operation(operation), wanted_order(work_order.toUtf8()), wanted_operation(operation.toUtf8())
{
}

void WorkOrderPasses::take(const JournalReader &reader)
{
    const JournalRow &row = reader.record();
    if (row.work_order != wanted_order.constData() || row.operation != wanted_operation.constData())
        return;
    OperationRecord identity;
    identity.operation = operation;
    identity.device_number = text(row.device_number);
    identity.imei_or_mac = text(row.imei_or_mac);
    const QString key = ServedModules::key(identity, QByteArray());
    if (!key.isEmpty())
        modules.insert(key);
}

void WorkOrderPasses::add(const OperationRecord &record)
{
    if (!record.ok || record.work_order != work_order || record.operation != operation)
        return;
    const QString key = ServedModules::key(record, QByteArray());
    if (!key.isEmpty())
        modules.insert(key);
}
