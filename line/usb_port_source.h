#pragma once

#include "line/port_source.h"

#include <condition_variable>
#include <mutex>
#include <thread>

class PortChangeNotifier;

// The module ports on the USB tree, by the identity rules. A walk reads the
// system's device tree (some 15 ms with 128 modules, longer on a busy
// machine) on a thread of its own, so that the thread that asked for it (a
// window's) never waits for it; the device-change notifications stay in the
// asking thread, where the system delivers them.
class UsbPortSource : public PortSource
{
    Q_OBJECT

public:
    explicit UsbPortSource(QObject *parent = nullptr);
    // Waits for a walk under way: it ends by itself within its own time.
    ~UsbPortSource() override;

    bool follow_changes() override;
    void walk() override;

private:
    // Queued from the walking thread once a walk is done.
    Q_INVOKABLE void take_walk();
    void walk_when_asked();

    PortChangeNotifier *notifier = nullptr;
    // Shared with the walking thread. The walk's result crosses by this
    // lock, never inside a queued call: Qt's own event queue is locked in a
    // way ThreadSanitizer cannot see, and the wake-up below carries nothing.
    std::mutex mutex;
    std::condition_variable asked;
    bool walk_asked = false, walking = false, again = false, ending = false;
    QList<FoundPort> walked_ports;
    std::thread thread;
};
