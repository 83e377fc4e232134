#pragma once

#include "line/port_source.h"

#include <QThread>

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
    void on_walked(const QList<FoundPort> &ports);

    QThread thread;
    QObject *walker;  // lives in `thread`
    PortChangeNotifier *notifier = nullptr;
    bool walking = false, again = false;
};
