#pragma once

#include "tools/module_sim/sim_options.h"

#include <QString>
#include <QStringList>

// A fabricated sysfs tree in which the pty shows up as the tty of a USB
// serial interface, for port discovery to find without real hardware:
//
//   DIR/devices/kv20sim<n>/usb1/1-1/                  idVendor idProduct [product]
//   DIR/devices/kv20sim<n>/usb1/1-1/1-1:1.<i>/        bInterfaceNumber
//   DIR/devices/kv20sim<n>/usb1/1-1/1-1:1.<i>/tty/kv20sim<n>/   uevent, device -> ../..
//   DIR/class/tty/kv20sim<n> -> ../../devices/kv20sim<n>/usb1/1-1/1-1:1.<i>/tty/kv20sim<n>
//
// The device directory is built under a temporary name and renamed into
// place, and the class link is added last, so a reader never finds half a
// device. Each pty has its own device folder, so several simulators share
// one DIR. remove() takes away exactly what create() made, leaving DIR.
class DeviceTree
{
public:
    DeviceTree() = default;
    ~DeviceTree();
    DeviceTree(const DeviceTree &) = delete;
    DeviceTree &operator=(const DeviceTree &) = delete;

    bool create(const QString &dir, int pty_number, UsbIdentity identity, bool with_product, const QString &usb_port,
                QString &error);
    void remove();

private:
    QString device_dir_;
    QString class_link_;
    QStringList made_dirs_; // parents we created, deepest last
};
