#pragma once

#include <QDir>
#include <QFile>
#include <QFileInfo>

// A sysfs tree with only what the port walk reads, laid out like the kernel's:
//   devices/usb1/<usb>/{idVendor,idProduct,product}, each hub of a chain
//       such as 1-1.4.2 a directory of its own (1-1/1-1.4/1-1.4.2)
//   devices/usb1/<usb>/<usb>:1.<n>/bInterfaceNumber
//   <interface>/tty/<tty>/ (cdc-acm) or <interface>/<tty>/tty/<tty>/ (usb-serial),
//       holding uevent and device -> ../..
//   class/tty/<tty> -> the tty's directory
namespace fake_sysfs {

struct UsbTty
{
    QString tty, devname; // devname empty: no DEVNAME in uevent
    QString usb = "1-1", vid = "3505", pid = "0001", interface = "02";
    QString product = "KV20 Module"; // null: no product file
    bool usb_serial = false;
};

inline bool write(const QString &path, const QByteArray &text)
{
    QFile file(path);
    return QDir().mkpath(QFileInfo(path).path()) && file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
}

// dir is relative to root; the device link points two levels up from it.
inline bool add_tty(const QString &root, const QString &dir, const QString &tty, const QString &devname, bool link = true)
{
    return write(root + "/" + dir + "/uevent", devname.isEmpty() ? QByteArray() : "DEVNAME=" + devname.toUtf8() + "\n")
        && QDir().mkpath(root + "/class/tty") && QFile::link("../../" + dir, root + "/class/tty/" + tty)
        && (!link || QFile::link("../..", root + "/" + dir + "/device"));
}

inline bool add_usb_tty(const QString &root, const UsbTty &t)
{
    QString usb = "devices/usb1/" + t.usb.section('.', 0, 0);
    for (int n = 1; n <= t.usb.count('.'); ++n)
        usb += "/" + t.usb.section('.', 0, n);
    const QString interface = usb + "/" + t.usb + ":1." + QString::number(t.interface.toInt(nullptr, 16));
    return write(root + "/" + usb + "/idVendor", t.vid.toUtf8()) && write(root + "/" + usb + "/idProduct", t.pid.toUtf8())
        && (t.product.isNull() || write(root + "/" + usb + "/product", t.product.toUtf8()))
        && write(root + "/" + interface + "/bInterfaceNumber", t.interface.toUtf8())
        && add_tty(root, interface + (t.usb_serial ? "/" + t.tty : QString()) + "/tty/" + t.tty, t.tty, t.devname);
}

} // namespace fake_sysfs
