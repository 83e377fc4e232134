#pragma once

#include <QObject>
#include <QStringList>

class MPThread;

// Everything a worker tells the window, in the order the window receives it
// (queued to the test's thread), one line each: "burn_show:false",
// "mac_done:true", "burn_done:false", "status:<text>:<true|false>",
// "field:<type>:<value>", "debug:<line>", "max:<n>", "progress:<n>".
class WorkerEventLog : public QObject
{
    Q_OBJECT

public:
    explicit WorkerEventLog(MPThread *worker);

    QStringList events;

    // Processes events until `event` has been received; false after timeout_ms.
    bool wait_for(const QString &event, int timeout_ms);
    // The events from the first occurrence of `event` on.
    QStringList from(const QString &event) const;
    // The events of one kind ("progress", "field", ...), without the prefix.
    QStringList of_kind(const QString &kind) const;
};
