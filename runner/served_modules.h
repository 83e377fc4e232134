#pragma once

#include "journal/operation_record.h"

#include <QByteArray>
#include <QHash>
#include <QString>

#include <mutex>

// The modules whose operation ended ok in this run, by identity (the device
// number with the IMEI (cellular) or the serial number with the MAC (Wi-Fi),
// the operation, and the image's SHA-256 for a download), by place and by
// time. A module restarting after an update comes back as a new plug-in
// would; only its identity tells the two apart. But two modules may share an
// identity (a factory default, a cloned image): the one coming back counts as
// the one served only in the place it was served in (the same USB socket,
// else the same port name), and only for a while after its ok, long enough
// for a restart. Thread-safe.
class ServedModules
{
public:
    // A module restarting after its download is back within seconds; two
    // minutes leave room for a slow one without mistaking the next module
    // plugged into the same socket for it.
    static constexpr qint64 same_module_ms = 2 * 60 * 1000;

    explicit ServedModules(qint64 window_ms = same_module_ms);

    // Empty when the record does not name its module (an identity field
    // missing): such a module is never taken for one served before.
    static QString key(const OperationRecord &record, const QByteArray &image_sha256);
    // Milliseconds of a steady clock: the times the calls below take.
    static qint64 now_ms();

    // The module is the one that ended ok in `place` at most window_ms
    // before now_ms.
    bool contains(const QString &key, const QString &place, qint64 now_ms) const;
    void add(const QString &key, const QString &place, qint64 now_ms);

private:
    const qint64 window_ms;
    mutable std::mutex mutex;
    // When each module ended ok, by identity and place. An entry older than
    // window_ms can no longer count and goes at the next add(): what is
    // kept is bounded by the modules served in that time, not in the shift.
    QHash<QString, qint64> ok_at;
};
