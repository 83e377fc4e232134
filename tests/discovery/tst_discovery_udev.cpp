// The device-change source and the port walk against libudev's own view of a
// machine, faked by umockdev: run under umockdev-wrapper, which preloads the
// library that redirects /sys and the uevent netlink socket to a test bed.

#include "discovery/device_change_source.h"
#include "discovery/port_enumerator.h"
#include "discovery/port_rules.h"
#include "message_capture.h"

#include <QtTest>

// GLib's headers use "signals" as an identifier, which Qt's keyword macros
// would rewrite.
#undef signals
#include <umockdev.h>
#define signals Q_SIGNALS

namespace {

constexpr int wait_ms = 5000;

struct GFreeString
{
    gchar *text;
    ~GFreeString() { g_free(text); }
    operator const gchar *() const { return text; }
};

} // namespace

class UdevMonitorTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void cleanupTestCase();

    void tty_add_reaches_device_changed_as_arrival();
    void tty_remove_and_change_map_to_their_codes();
    void uevents_of_other_subsystems_are_filtered_out();
    void module_in_the_faked_sysfs_is_found_under_default_root();

private:
    // The module: USB device, its interface 2 and a cdc-acm tty on it.
    QString add_module(const char *tty_name);
    UMockdevTestbed *testbed = nullptr;
    QString usb_device;
    QString usb_interface;
};

void UdevMonitorTest::initTestCase()
{
    // One test bed for the whole run: umockdev keeps a worker thread per
    // process, and tearing test beds down under it only adds noise. The
    // check below only means something once a test bed exists: it looks at
    // what the test bed exports for the preloaded library.
    testbed = umockdev_testbed_new();
    QVERIFY(testbed);
    if (!umockdev_in_mock_environment())
        QSKIP("not running under umockdev-wrapper; the libudev monitor cannot be faked");
    qunsetenv("KV20_DEVICE_EVENT_FIFO");
    qunsetenv("KV20_SYSFS_ROOT");
}

void UdevMonitorTest::cleanup()
{
    umockdev_testbed_clear(testbed);
    usb_device.clear();
    usb_interface.clear();
}

void UdevMonitorTest::cleanupTestCase()
{
    if (testbed)
        g_object_unref(testbed);
    testbed = nullptr;
}

QString UdevMonitorTest::add_module(const char *tty_name)
{
    GFreeString device{umockdev_testbed_add_device(testbed, "usb", "1-1", nullptr, "idVendor", "3505\n", "idProduct",
                                                   "0001\n", "product", "KV20 Module\n", nullptr, "DEVTYPE",
                                                   "usb_device", nullptr)};
    GFreeString interface_dir{umockdev_testbed_add_device(testbed, "usb", "1-1:1.2", device, "bInterfaceNumber",
                                                          "02\n", nullptr, "DEVTYPE", "usb_interface", nullptr)};
    GFreeString tty{umockdev_testbed_add_device(testbed, "tty", tty_name, interface_dir, "dev", "166:0\n", nullptr,
                                                "DEVNAME", tty_name, nullptr)};
    usb_device = QString::fromUtf8(device);
    usb_interface = QString::fromUtf8(interface_dir);
    // A cdc-acm tty's device is its USB interface.
    umockdev_testbed_set_attribute_link(testbed, tty, "device", "..");
    return QString::fromUtf8(tty);
}

void UdevMonitorTest::tty_add_reaches_device_changed_as_arrival()
{
    MessageCapture capture;
    DeviceChangeSource source;
    QCOMPARE(capture.count_containing(QtWarningMsg, QStringLiteral("no udev monitor")), 0);
    QSignalSpy spy(&source, &DeviceChangeSource::device_changed);

    // Adding a device to the test bed announces it with an "add" uevent,
    // as the kernel does when the module enumerates.
    add_module("ttyACM0");
    QVERIFY(spy.wait(wait_ms));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).value<quint32>(), quint32(0x8000));
    QCOMPARE(spy.at(0).at(1).toBool(), false);
}

void UdevMonitorTest::tty_remove_and_change_map_to_their_codes()
{
    const QByteArray tty = add_module("ttyACM1").toUtf8();
    DeviceChangeSource source;
    QSignalSpy spy(&source, &DeviceChangeSource::device_changed);
    umockdev_testbed_uevent(testbed, tty.constData(), "change");
    umockdev_testbed_uevent(testbed, tty.constData(), "remove");
    umockdev_testbed_uevent(testbed, tty.constData(), "add");
    QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 3, wait_ms);
    QCOMPARE(spy.at(0).at(0).value<quint32>(), quint32(0x0007));
    QCOMPARE(spy.at(1).at(0).value<quint32>(), quint32(0x8004));
    QCOMPARE(spy.at(1).at(1).toBool(), false);
    QCOMPARE(spy.at(2).at(0).value<quint32>(), quint32(0x8000));
}

void UdevMonitorTest::uevents_of_other_subsystems_are_filtered_out()
{
    const QByteArray tty = add_module("ttyACM2").toUtf8();
    DeviceChangeSource source;
    QSignalSpy spy(&source, &DeviceChangeSource::device_changed);
    // Sent first, so had they passed the filter they would come first.
    umockdev_testbed_uevent(testbed, usb_interface.toUtf8().constData(), "add");
    umockdev_testbed_uevent(testbed, usb_device.toUtf8().constData(), "remove");
    umockdev_testbed_uevent(testbed, tty.constData(), "remove");
    QVERIFY(spy.wait(wait_ms));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).value<quint32>(), quint32(0x8004));
}

void UdevMonitorTest::module_in_the_faked_sysfs_is_found_under_default_root()
{
    MessageCapture capture;
    QStringList ports;
    QVERIFY(!collect_module_ports(enumerate_com_port_interfaces(), &ports));

    DeviceChangeSource source;
    bool found = false;
    connect(&source, &DeviceChangeSource::device_changed, this, [&](quint32, bool) {
        if (ports.isEmpty())
            found = collect_module_ports(enumerate_com_port_interfaces(), &ports);
    });
    QSignalSpy spy(&source, &DeviceChangeSource::device_changed);
    add_module("ttyACM3");
    QVERIFY(spy.wait(wait_ms));
    QVERIFY(found);
    QCOMPARE(ports, QStringList{QStringLiteral("ttyACM3")});
    QCOMPARE(capture.count_containing(QtDebugMsg,
                                      QStringLiteral("usb#vid_3505&pid_0001&mi_02#1-1&0002#{86e0d1e0-8089-11d0-9ce4-")),
             2);
}

QTEST_GUILESS_MAIN(UdevMonitorTest)
#include "tst_discovery_udev.moc"
