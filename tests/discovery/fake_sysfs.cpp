#include "fake_sysfs.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

FakeSysfs::FakeSysfs()
    : dir(QDir::tempPath() + QStringLiteral("/kv20-sysfs-XXXXXX"))
{
}

bool FakeSysfs::write_file(const QString &relative_path, const QByteArray &content)
{
    const QString path = dir.filePath(relative_path);
    if (!QDir().mkpath(QFileInfo(path).path()))
        return false;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write(content) == content.size();
}

bool FakeSysfs::make_link(const QString &relative_path, const QString &target)
{
    const QString path = dir.filePath(relative_path);
    if (!QDir().mkpath(QFileInfo(path).path()))
        return false;
    QFile::remove(path);
    return QFile::link(target, path);
}

bool FakeSysfs::add_class_entry(const QString &tty, const QString &tty_dir_relative)
{
    return QDir().mkpath(dir.filePath(tty_dir_relative))
        && make_link(QStringLiteral("class/tty/") + tty, QStringLiteral("../../") + tty_dir_relative);
}

bool FakeSysfs::add_usb_tty(const UsbTty &tty)
{
    const QString usb = QStringLiteral("devices/kv20sim/usb1/") + tty.usb_device;
    bool number_ok = false;
    const int interface_index = tty.interface_number.toInt(&number_ok, 16);
    if (!number_ok)
        return false;
    const QString interface = usb + QLatin1Char('/') + tty.usb_device + QStringLiteral(":1.")
        + QString::number(interface_index);
    const QString port_dir = tty.usb_serial_port ? interface + QLatin1Char('/') + tty.tty : interface;
    const QString tty_dir = port_dir + QStringLiteral("/tty/") + tty.tty;

    bool ok = true;
    if (tty.usb_ids) {
        ok = ok && write_file(usb + QStringLiteral("/idVendor"), tty.vid.toUtf8() + '\n');
        ok = ok && write_file(usb + QStringLiteral("/idProduct"), tty.pid.toUtf8() + '\n');
    }
    if (!tty.product.isNull())
        ok = ok && write_file(usb + QStringLiteral("/product"), tty.product.toUtf8() + '\n');
    ok = ok && write_file(interface + QStringLiteral("/bInterfaceNumber"), tty.interface_number.toUtf8() + '\n');
    if (tty.uevent) {
        QByteArray uevent = "MAJOR=166\nMINOR=0\n";
        if (!tty.devname.isEmpty())
            uevent += "DEVNAME=" + tty.devname.toUtf8() + '\n';
        ok = ok && write_file(tty_dir + QStringLiteral("/uevent"), uevent);
    }
    ok = ok && add_class_entry(tty.tty, tty_dir);
    ok = ok && make_link(tty_dir + QStringLiteral("/device"), QStringLiteral("../.."));
    return ok;
}

bool FakeSysfs::add_platform_tty(const QString &tty)
{
    const QString tty_dir = QStringLiteral("devices/platform/serial8250/tty/") + tty;
    return write_file(QStringLiteral("devices/platform/serial8250/driver_override"), "(null)\n")
        && write_file(tty_dir + QStringLiteral("/uevent"), "MAJOR=4\nMINOR=64\nDEVNAME=" + tty.toUtf8() + '\n')
        && add_class_entry(tty, tty_dir) && make_link(tty_dir + QStringLiteral("/device"), QStringLiteral("../.."));
}

bool FakeSysfs::add_virtual_tty(const QString &tty)
{
    const QString tty_dir = QStringLiteral("devices/virtual/tty/") + tty;
    return write_file(tty_dir + QStringLiteral("/uevent"), "MAJOR=4\nMINOR=0\nDEVNAME=" + tty.toUtf8() + '\n')
        && add_class_entry(tty, tty_dir);
}

bool FakeSysfs::add_tty_linked_to(const QString &tty, const QString &device_target)
{
    const QString tty_dir = QStringLiteral("devices/elsewhere/tty/") + tty;
    return write_file(tty_dir + QStringLiteral("/uevent"), "DEVNAME=" + tty.toUtf8() + '\n')
        && add_class_entry(tty, tty_dir) && make_link(tty_dir + QStringLiteral("/device"), device_target);
}
