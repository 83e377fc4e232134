#pragma once

#include <QList>
#include <QString>

// One present COM-port interface as the system lists it: its device interface
// path in the Windows form (for example
// \\?\usb#vid_3505&pid_0001&mi_02#6&1a2b3c&0&0002#{86e0d1e0-8089-11d0-9ce4-08003e301f73})
// and its friendly name, else its device description, else empty.
struct ComPortInterface
{
    QString device_path;
    QString name;
    // Where the module is plugged in: on Linux the USB device's directory in
    // sysfs (its bus and hub ports, /sys/devices/.../usb1/1-1/1-1.4), the
    // same for whatever module is plugged into that socket. Empty where the
    // walk cannot say.
    QString usb_device {};
    // The socket's name on the USB tree, the same whatever module is in it
    // and whatever order the modules were plugged in: on Linux the USB
    // device's name in sysfs (1-1.4.2: bus 1, root port 1, hub port 4, its
    // port 2); on Windows its location path. Empty where the walk cannot
    // say. Port names are no slot: ttyACM numbers follow the plug-in order.
    QString slot {};
};
