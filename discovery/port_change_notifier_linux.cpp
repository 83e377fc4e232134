#include "discovery/port_change_notifier.h"

#include "discovery/device_change_source.h"

// Every udev or injected event counts: a tty that came or went, or a change
// of the device tree.
struct PortChangeNotifier::Private
{
};

PortChangeNotifier::PortChangeNotifier(QObject *parent)
    : QObject(parent)
    , d(nullptr)
{
    auto *source = new DeviceChangeSource(this);
    connect(source, &DeviceChangeSource::device_changed, this, &PortChangeNotifier::ports_changed);
}

PortChangeNotifier::~PortChangeNotifier() = default;

bool PortChangeNotifier::listening() const
{
    return true;
}
