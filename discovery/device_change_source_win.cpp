#include "discovery/device_change_source.h"

// Windows sends WM_DEVICECHANGE to every top-level window, and the window's
// native event hook handles it; this source has nothing to add and stays
// silent.
struct DeviceChangeSource::Private
{
};

DeviceChangeSource::DeviceChangeSource(QObject *parent)
    : QObject(parent)
{
}

DeviceChangeSource::~DeviceChangeSource() = default;
