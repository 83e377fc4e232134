// One module arrival as libudev reports it, on a machine faked by umockdev;
// run under umockdev-wrapper, which redirects /sys and the uevents.
#include "discovery/device_change_source.h"
#include "discovery/port_enumerator.h"
#include "discovery/port_rules.h"

#include <QtTest>

// GLib's headers use "signals" as an identifier, which Qt's keyword macro
// would rewrite.
#undef signals
#include <umockdev.h>
#define signals Q_SIGNALS

class UdevArrivalTest : public QObject
{
    Q_OBJECT

private slots:
    void module_arrival_is_noticed_and_its_port_found()
    {
        UMockdevTestbed *testbed = umockdev_testbed_new();
        if (!umockdev_in_mock_environment())
            QSKIP("not running under umockdev-wrapper");
        QStringList ports;
        DeviceChangeSource source;
        QSignalSpy changes(&source, &DeviceChangeSource::device_changed);
        // What the window does on each notification while it knows no module.
        connect(&source, &DeviceChangeSource::device_changed, this, [&] {
            if (ports.isEmpty())
                collect_module_ports(enumerate_com_port_interfaces(), &ports);
        });

        // The module enumerating: USB device, interface 2, a cdc-acm tty on it,
        // each announced with "add"; only the tty's may reach the window.
        gchar *usb = umockdev_testbed_add_device(testbed, "usb", "1-1", nullptr, "idVendor", "3505\n", "idProduct",
                                                 "0001\n", nullptr, "DEVTYPE", "usb_device", nullptr);
        gchar *interface = umockdev_testbed_add_device(testbed, "usb", "1-1:1.2", usb, "bInterfaceNumber", "02\n",
                                                       nullptr, "DEVTYPE", "usb_interface", nullptr);
        gchar *tty = umockdev_testbed_add_device(testbed, "tty", "ttyACM3", interface, "dev", "166:0\n", nullptr,
                                                 "DEVNAME", "ttyACM3", nullptr);
        umockdev_testbed_set_attribute_link(testbed, tty, "device", "..");
        QTRY_COMPARE_WITH_TIMEOUT(ports, QStringList{"ttyACM3"}, 5000);
        QCOMPARE(changes.count(), 1);
        QCOMPARE(changes.at(0).at(0).value<quint32>(), 0x8000u);
        g_free(usb);
        g_free(interface);
        g_free(tty);
        g_object_unref(testbed);
    }
};

QTEST_GUILESS_MAIN(UdevArrivalTest)
#include "tst_discovery_udev.moc"
