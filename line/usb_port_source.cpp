#include "line/usb_port_source.h"

#include "discovery/port_change_notifier.h"
#include "discovery/port_enumerator.h"

namespace {

QList<FoundPort> walk_ports()
{
    QList<FoundPort> found;
    for (const ModulePort &port : find_module_ports())
        found.append({port, port_node_stamp(port.node)});
    return found;
}

} // namespace

UsbPortSource::UsbPortSource(QObject *parent)
    : PortSource(parent)
    , walker(new QObject)
{
    qRegisterMetaType<QList<FoundPort>>();
    walker->moveToThread(&thread);
    connect(&thread, &QThread::finished, walker, &QObject::deleteLater);
    thread.setObjectName(QStringLiteral("port walk"));
    thread.start();
}

UsbPortSource::~UsbPortSource()
{
    thread.quit();
    thread.wait();
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
    if (walking) {
        again = true;
        return;
    }
    walking = true;
    // The answer comes back queued to this object's thread: this object
    // outlives the walk (its destructor waits for it), and an answer not
    // delivered yet goes with it.
    QMetaObject::invokeMethod(walker, [this] {
        const QList<FoundPort> found = walk_ports();
        QMetaObject::invokeMethod(this, [this, found] { on_walked(found); }, Qt::QueuedConnection);
    }, Qt::QueuedConnection);
}

void UsbPortSource::on_walked(const QList<FoundPort> &ports)
{
    walking = false;
    emit walked(ports);
    if (again) {
        again = false;
        walk();
    }
}
