#include "runner/served_modules.h"

QString ServedModules::key(const OperationRecord &record, const QByteArray &image_sha256)
{
    if (record.device_number.isEmpty() || record.imei_or_mac.isEmpty())
        return QString();
    // Each field behind its length: no two different identities make the
    // same key, whatever characters a module puts in its fields.
    QString key;
    for (const QString &field :
         {record.operation, record.device_number, record.imei_or_mac, QString::fromLatin1(image_sha256)})
        key += QString::number(field.size()) + QLatin1Char(':') + field;
    return key;
}

bool ServedModules::contains(const QString &key) const
{
    std::lock_guard<std::mutex> locker(mutex);
    return !key.isEmpty() && keys.contains(key);
}

void ServedModules::add(const QString &key)
{
    std::lock_guard<std::mutex> locker(mutex);
    if (!key.isEmpty())
        keys.insert(key);
}
