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
};
