#include "fake_sysfs.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

bool FakeSysfs::write_file(const QString &relative_path, const QByteArray &content)
{
    QFile file(dir.filePath(relative_path));
    return QDir().mkpath(QFileInfo(file).path()) && file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        && file.write(content) == content.size();
}

// The tty's directory with its uevent, its class entry and, if asked, the
// device link to the directory two levels up.
bool FakeSysfs::add_tty(const QString &tty, const QString &tty_dir, const QString &devname, bool device_link)
{
    QByteArray uevent = "MAJOR=166\nMINOR=0\n";
    if (!devname.isEmpty())
        uevent += "DEVNAME=" + devname.toUtf8() + '\n';
    return write_file(tty_dir + QStringLiteral("/uevent"), uevent)
        && QDir().mkpath(dir.filePath(QStringLiteral("class/tty")))
        && QFile::link(QStringLiteral("../../") + tty_dir, dir.filePath(QStringLiteral("class/tty/") + tty))
        && (!device_link || QFile::link(QStringLiteral("../.."), dir.filePath(tty_dir + QStringLiteral("/device"))));
}

bool FakeSysfs::add_usb_tty(const UsbTty &tty)
{
    bool number_ok = false;
    const int number = tty.interface_number.toInt(&number_ok, 16);
    const QString usb = QStringLiteral("devices/kv20sim/usb1/") + tty.usb_device;
    const QString interface = usb + QLatin1Char('/') + tty.usb_device + QStringLiteral(":1.") + QString::number(number);
    const QString port_dir = tty.usb_serial_port ? interface + QLatin1Char('/') + tty.tty : interface;
    return number_ok && write_file(usb + QStringLiteral("/idVendor"), tty.vid.toUtf8() + '\n')
        && write_file(usb + QStringLiteral("/idProduct"), tty.pid.toUtf8() + '\n')
        && (tty.product.isNull() || write_file(usb + QStringLiteral("/product"), tty.product.toUtf8() + '\n'))
        && write_file(interface + QStringLiteral("/bInterfaceNumber"), tty.interface_number.toUtf8() + '\n')
        && add_tty(tty.tty, port_dir + QStringLiteral("/tty/") + tty.tty, tty.devname, true);
}

bool FakeSysfs::add_platform_tty(const QString &tty)
{
    return add_tty(tty, QStringLiteral("devices/platform/serial8250/tty/") + tty, tty, true);
}

bool FakeSysfs::add_virtual_tty(const QString &tty)
{
    return add_tty(tty, QStringLiteral("devices/virtual/tty/") + tty, tty, false);
}
