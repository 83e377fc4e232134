#include "discovery/native_device_change.h"

// X11 and Wayland deliver no device-change message to a window; on Linux the
// notifications come from DeviceChangeSource instead.
bool decode_native_device_change(const QByteArray &, void *, quint32 *, bool *)
{
    return false;
}
