#pragma once

#include "journal/operation_record.h"

#include <QByteArray>
#include <QSet>
#include <QString>

#include <mutex>

// The modules that have had an operation done in this run, by identity: the
// device number with the IMEI (cellular) or the serial number with the MAC
// (Wi-Fi), the operation, and the image's SHA-256 for a download. A module
// restarting after an update comes back under the same port name as a new
// plug-in would; only its identity tells the two apart. Thread-safe.
class ServedModules
{
public:
    // Empty when the record does not name its module (an identity field
    // missing): such a module is never taken for one served before.
    static QString key(const OperationRecord &record, const QByteArray &image_sha256);

    bool contains(const QString &key) const;
    void add(const QString &key);

private:
    mutable std::mutex mutex;
    QSet<QString> keys;
};
