#pragma once

#include <QString>
#include <QTemporaryDir>

// A throw-away sysfs tree with the files the port walk reads, laid out like
// the kernel's:
//   devices/kv20sim/usb1/<usb>/                 idVendor idProduct [product]
//   devices/kv20sim/usb1/<usb>/<usb>:1.<n>/     bInterfaceNumber
//   .../<usb>:1.<n>/tty/<tty>/                  uevent, device -> ../..
//   class/tty/<tty> -> ../../devices/.../tty/<tty>
// With usb_serial_port set, the tty hangs off a usb-serial port directory
// (<usb>:1.<n>/<tty>/tty/<tty>, device -> ../../<tty>) as ttyUSB ports do.
class FakeSysfs
{
public:
    struct UsbTty
    {
        QString tty;
        QString devname; // DEVNAME in uevent; empty: no DEVNAME line
        QString usb_device = QStringLiteral("1-1");
        QString vid = QStringLiteral("3505");
        QString pid = QStringLiteral("0001");
        QString interface_number = QStringLiteral("02");
        QString product = QStringLiteral("KV20 Simulated Module"); // null: no file
        bool usb_serial_port = false;
    };

    bool ok() const { return dir.isValid(); }
    QString root() const { return dir.path(); }

    bool add_usb_tty(const UsbTty &tty);
    // An on-board UART: its device is a platform device.
    bool add_platform_tty(const QString &tty);
    // A virtual console: no device link at all.
    bool add_virtual_tty(const QString &tty);

private:
    bool write_file(const QString &relative_path, const QByteArray &content);
    bool add_tty(const QString &tty, const QString &tty_dir, const QString &devname, bool device_link);
    QTemporaryDir dir;
};
