#include "line/usb_port_source.h"

#include "discovery/port_change_notifier.h"
#include "discovery/port_enumerator.h"

UsbPortSource::UsbPortSource(QObject *parent)
    : PortSource(parent)
    , thread([this] { walk_when_asked(); })
{
}

UsbPortSource::~UsbPortSource()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        ending = true;
    }
    asked.notify_one();
    thread.join();
}

bool UsbPortSource::follow_changes()
{
    if (!notifier) {
        notifier = new PortChangeNotifier(this);
        connect(notifier, &PortChangeNotifier::ports_changed, this, &PortSource::changed);
    }
    return notifier->listening();
}

void UsbPortSource::walk()
{
    std::lock_guard<std::mutex> lock(mutex);
    if (walking) {
        again = true;
        return;
    }
    walking = walk_asked = true;
    asked.notify_one();
}

void UsbPortSource::walk_when_asked()
{
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        asked.wait(lock, [this] { return walk_asked || ending; });
        if (ending)
            return;
        walk_asked = false;
        lock.unlock();
        QList<FoundPort> found;
        for (const ModulePort &port : find_module_ports())
            found.append({port, port_node_stamp(port.node)});
        lock.lock();
        walked_ports = found;
        // This object outlives the thread, and a wake-up not delivered yet
        // goes with it.
        QMetaObject::invokeMethod(this, "take_walk", Qt::QueuedConnection);
    }
}

void UsbPortSource::take_walk()
{
    QList<FoundPort> found;
    bool walk_again = false;
    {
        std::lock_guard<std::mutex> lock(mutex);
        found.swap(walked_ports);
        walking = false;
        std::swap(walk_again, again);
    }
    emit walked(found);
    if (walk_again)
        walk();
}
