// The device-change source and the port walk against libudev's view of a machine
// faked by umockdev; run under umockdev-wrapper, which redirects /sys and uevents.

#include "discovery/device_change_source.h"
#include "discovery/port_enumerator.h"
#include "discovery/port_rules.h"

#include <QtTest>

// GLib's headers use "signals" as an identifier, which Qt's keyword macros
// would rewrite.
#undef signals
#include <umockdev.h>
#define signals Q_SIGNALS

namespace {

constexpr int wait_ms = 5000;

QByteArray take(gchar *text)
{
    const QByteArray copy(text);
    g_free(text);
    return copy;
}

} // namespace

class UdevMonitorTest : public QObject
{
    Q_OBJECT

    UMockdevTestbed *testbed = nullptr;
    QByteArray usb_device, usb_interface, tty;

    // The module: USB device, its interface 2 and a cdc-acm tty on it. Each
    // is announced with an "add" uevent, as when the module enumerates.
    void add_module(const char *tty_name)
    {
        usb_device = take(umockdev_testbed_add_device(testbed, "usb", "1-1", nullptr, "idVendor", "3505\n",
                                                      "idProduct", "0001\n", "product", "KV20 Module\n", nullptr,
                                                      "DEVTYPE", "usb_device", nullptr));
        usb_interface = take(umockdev_testbed_add_device(testbed, "usb", "1-1:1.2", usb_device.constData(),
                                                         "bInterfaceNumber", "02\n", nullptr, "DEVTYPE",
                                                         "usb_interface", nullptr));
        tty = take(umockdev_testbed_add_device(testbed, "tty", tty_name, usb_interface.constData(), "dev",
                                               "166:0\n", nullptr, "DEVNAME", tty_name, nullptr));
        // A cdc-acm tty's device is its USB interface.
        umockdev_testbed_set_attribute_link(testbed, tty.constData(), "device", "..");
    }

private slots:
    void initTestCase()
    {
        // One test bed for the whole run: umockdev keeps a worker thread per
        // process. Whether the preload is active shows only once one exists.
        testbed = umockdev_testbed_new();
        QVERIFY(testbed);
        if (!umockdev_in_mock_environment())
            QSKIP("not running under umockdev-wrapper; the libudev monitor cannot be faked");
        qunsetenv("KV20_DEVICE_EVENT_FIFO");
        qunsetenv("KV20_SYSFS_ROOT");
    }

    void cleanup() { umockdev_testbed_clear(testbed); }

    void cleanupTestCase()
    {
        if (testbed)
            g_object_unref(testbed);
    }

    void tty_uevents_map_to_event_codes_and_others_are_filtered()
    {
        DeviceChangeSource source;
        QSignalSpy spy(&source, &DeviceChangeSource::device_changed);
        add_module("ttyACM0");
        umockdev_testbed_uevent(testbed, usb_interface.constData(), "change");
        umockdev_testbed_uevent(testbed, tty.constData(), "change");
        umockdev_testbed_uevent(testbed, usb_device.constData(), "remove");
        umockdev_testbed_uevent(testbed, tty.constData(), "remove");
        // Had the USB device's and interface's uevents passed, they would come first.
        QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 3, wait_ms);
        QStringList events;
        for (const QList<QVariant> &arguments : qAsConst(spy))
            events << QString::number(arguments.at(0).value<quint32>(), 16) + (arguments.at(1).toBool() ? "+" : "");
        QCOMPARE(events, (QStringList{"8000", "7", "8004"}));
    }

    void module_in_the_faked_sysfs_is_found_on_arrival()
    {
        QStringList ports;
        QVERIFY(!collect_module_ports(enumerate_com_port_interfaces(), &ports));
        DeviceChangeSource source;
        connect(&source, &DeviceChangeSource::device_changed, this, [&] {
            if (ports.isEmpty())
                collect_module_ports(enumerate_com_port_interfaces(), &ports);
        });
        add_module("ttyACM3");
        QTRY_COMPARE_WITH_TIMEOUT(ports, QStringList{QStringLiteral("ttyACM3")}, wait_ms);
    }
};

QTEST_GUILESS_MAIN(UdevMonitorTest)
#include "tst_discovery_udev.moc"
