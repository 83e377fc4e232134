#include "runner/served_modules.h"

#include <chrono>

namespace {

// Each field behind its length: no two different identities or places make
// the same key, whatever characters a module puts in its fields.
void append_field(QString *key, const QString &field)
{
    *key += QString::number(field.size()) + QLatin1Char(':') + field;
}

} // namespace

ServedModules::ServedModules(qint64 window_ms)
    : window_ms(window_ms)
{
}

QString ServedModules::key(const OperationRecord &record, const QByteArray &image_sha256)
{
    if (record.device_number.isEmpty() || record.imei_or_mac.isEmpty())
        return QString();
    QString key;
    for (const QString &field :
         {record.operation, record.device_number, record.imei_or_mac, QString::fromLatin1(image_sha256)})
        append_field(&key, field);
    return key;
}

qint64 ServedModules::now_ms()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool ServedModules::contains(const QString &key, const QString &place, qint64 now_ms) const
{
    if (key.isEmpty())
        return false;
    QString where = key;
    append_field(&where, place);
    std::lock_guard<std::mutex> locker(mutex);
    const auto it = ok_at.constFind(where);
    return it != ok_at.cend() && now_ms - it.value() <= window_ms;
}

void ServedModules::add(const QString &key, const QString &place, qint64 now_ms)
{
    if (key.isEmpty())
        return;
    QString where = key;
    append_field(&where, place);
    std::lock_guard<std::mutex> locker(mutex);
    for (auto it = ok_at.begin(); it != ok_at.end();) {
        if (now_ms - it.value() > window_ms)
            it = ok_at.erase(it);
        else
            ++it;
    }
    ok_at.insert(where, now_ms);
}
