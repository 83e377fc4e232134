#include "discovery/port_enumerator.h"
#include "discovery/port_rules.h"
#include "fake_sysfs.h"
#include "message_capture.h"

#include <QtTest>

namespace {

const QString guid = QStringLiteral("{86e0d1e0-8089-11d0-9ce4-08003e301f73}");

FakeSysfs::UsbTty module_tty(const QString &tty, const QString &devname)
{
    FakeSysfs::UsbTty port;
    port.tty = tty;
    port.devname = devname;
    return port;
}

QStringList names_of(const QList<ComPortInterface> &ports)
{
    QStringList names;
    for (const ComPortInterface &port : ports)
        names << port.name;
    return names;
}

} // namespace

class SysfsPortsTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void module_interface_gets_windows_form_path();
    void identities_data();
    void identities();
    void usb_serial_port_is_found_through_its_parent();
    void missing_product_gives_generic_description();
    void parentheses_in_product_do_not_hide_device_name();
    void missing_uevent_or_devname_falls_back_to_tty_name();
    void non_usb_ttys_are_left_out();
    void interface_without_usb_ids_is_left_out();
    void malformed_ids_are_left_out_data();
    void malformed_ids_are_left_out();
    void walk_does_not_leave_the_sysfs_root();
    void ports_are_sorted_by_tty_name();
    void missing_root_gives_no_ports();

private:
    FakeSysfs *sysfs = nullptr;
    QList<ComPortInterface> enumerate() const;
};

void SysfsPortsTest::init()
{
    sysfs = new FakeSysfs;
    QVERIFY(sysfs->ok());
    qputenv("KV20_SYSFS_ROOT", sysfs->root().toLocal8Bit());
}

void SysfsPortsTest::cleanup()
{
    qunsetenv("KV20_SYSFS_ROOT");
    delete sysfs;
    sysfs = nullptr;
}

QList<ComPortInterface> SysfsPortsTest::enumerate() const
{
    return enumerate_com_port_interfaces();
}

void SysfsPortsTest::module_interface_gets_windows_form_path()
{
    QVERIFY(sysfs->add_usb_tty(module_tty("kv20sim7", "pts/7")));
    const QList<ComPortInterface> ports = enumerate();
    QCOMPARE(ports.size(), 1);
    QCOMPARE(ports.at(0).device_path, QStringLiteral("\\\\?\\usb#vid_3505&pid_0001&mi_02#1-1&0002#") + guid);
    QCOMPARE(ports.at(0).name, QStringLiteral("KV20 Simulated Module (pts/7)"));

    MessageCapture capture;
    QStringList found;
    QVERIFY(collect_module_ports(ports, &found));
    QCOMPARE(found, QStringList{QStringLiteral("pts/7")});
}

void SysfsPortsTest::identities_data()
{
    QTest::addColumn<QString>("vid");
    QTest::addColumn<QString>("pid");
    QTest::addColumn<QString>("interface_number");
    QTest::addColumn<QString>("usb_device");
    QTest::addColumn<QString>("expected_path");
    QTest::addColumn<bool>("module");

    QTest::newRow("module, interface 2")
        << "3505" << "0001" << "02" << "1-1" << "\\\\?\\usb#vid_3505&pid_0001&mi_02#1-1&0002#" + guid << true;
    QTest::newRow("alternative identity, interface 6")
        << "19d1" << "0001" << "06" << "1-1" << "\\\\?\\usb#vid_19d1&pid_0001&mi_06#1-1&0006#" + guid << true;
    QTest::newRow("capital hex in sysfs is lowered")
        << "19D1" << "0001" << "06" << "2-1.4" << "\\\\?\\usb#vid_19d1&pid_0001&mi_06#2-1.4&0006#" + guid << true;
    QTest::newRow("other vendor's adapter, interface 0")
        << "1a86" << "7523" << "00" << "1-1" << "\\\\?\\usb#vid_1a86&pid_7523&mi_00#1-1&0000#" + guid << false;
    QTest::newRow("single-digit interface number is padded")
        << "3505" << "0001" << "2" << "3-2" << "\\\\?\\usb#vid_3505&pid_0001&mi_02#3-2&0002#" + guid << true;
    QTest::newRow("module on a wrong interface")
        << "3505" << "0001" << "00" << "1-1" << "\\\\?\\usb#vid_3505&pid_0001&mi_00#1-1&0000#" + guid << false;
}

void SysfsPortsTest::identities()
{
    QFETCH(QString, vid);
    QFETCH(QString, pid);
    QFETCH(QString, interface_number);
    QFETCH(QString, usb_device);
    QFETCH(QString, expected_path);
    QFETCH(bool, module);

    FakeSysfs::UsbTty tty = module_tty("ttyACM0", "ttyACM0");
    tty.vid = vid;
    tty.pid = pid;
    tty.interface_number = interface_number;
    tty.usb_device = usb_device;
    QVERIFY(sysfs->add_usb_tty(tty));

    const QList<ComPortInterface> ports = enumerate();
    QCOMPARE(ports.size(), 1);
    QCOMPARE(ports.at(0).device_path, expected_path);

    MessageCapture capture;
    QStringList found;
    QCOMPARE(collect_module_ports(ports, &found), module);
    QCOMPARE(found, module ? QStringList{QStringLiteral("ttyACM0")} : QStringList());
}

void SysfsPortsTest::usb_serial_port_is_found_through_its_parent()
{
    FakeSysfs::UsbTty tty = module_tty("ttyUSB0", "ttyUSB0");
    tty.vid = QStringLiteral("1a86");
    tty.pid = QStringLiteral("7523");
    tty.interface_number = QStringLiteral("00");
    tty.usb_device = QStringLiteral("1-2");
    tty.product = QStringLiteral("USB Serial");
    tty.usb_serial_port = true;
    QVERIFY(sysfs->add_usb_tty(tty));

    const QList<ComPortInterface> ports = enumerate();
    QCOMPARE(ports.size(), 1);
    QCOMPARE(ports.at(0).device_path, QStringLiteral("\\\\?\\usb#vid_1a86&pid_7523&mi_00#1-2&0000#") + guid);
    QCOMPARE(ports.at(0).name, QStringLiteral("USB Serial (ttyUSB0)"));
}

void SysfsPortsTest::missing_product_gives_generic_description()
{
    FakeSysfs::UsbTty tty = module_tty("kv20sim3", "pts/3");
    tty.product = QString();
    QVERIFY(sysfs->add_usb_tty(tty));
    QCOMPARE(names_of(enumerate()), QStringList{QStringLiteral("USB Serial Device (pts/3)")});
}

void SysfsPortsTest::parentheses_in_product_do_not_hide_device_name()
{
    FakeSysfs::UsbTty tty = module_tty("ttyACM1", "ttyACM1");
    tty.product = QStringLiteral("Module (rev 2)");
    QVERIFY(sysfs->add_usb_tty(tty));
    const QList<ComPortInterface> ports = enumerate();
    QCOMPARE(names_of(ports), QStringList{QStringLiteral("Module [rev 2] (ttyACM1)")});

    MessageCapture capture;
    QStringList found;
    QVERIFY(collect_module_ports(ports, &found));
    QCOMPARE(found, QStringList{QStringLiteral("ttyACM1")});
}

void SysfsPortsTest::missing_uevent_or_devname_falls_back_to_tty_name()
{
    FakeSysfs::UsbTty without_uevent = module_tty("ttyACM4", QString());
    without_uevent.uevent = false;
    QVERIFY(sysfs->add_usb_tty(without_uevent));
    FakeSysfs::UsbTty without_devname = module_tty("ttyACM5", QString());
    without_devname.usb_device = QStringLiteral("1-3");
    QVERIFY(sysfs->add_usb_tty(without_devname));

    QCOMPARE(names_of(enumerate()),
             (QStringList{QStringLiteral("KV20 Simulated Module (ttyACM4)"),
                          QStringLiteral("KV20 Simulated Module (ttyACM5)")}));
}

void SysfsPortsTest::non_usb_ttys_are_left_out()
{
    QVERIFY(sysfs->add_platform_tty(QStringLiteral("ttyS0")));
    QVERIFY(sysfs->add_virtual_tty(QStringLiteral("tty0")));
    QVERIFY(sysfs->add_virtual_tty(QStringLiteral("ptmx")));
    QVERIFY(enumerate().isEmpty());

    QVERIFY(sysfs->add_usb_tty(module_tty("ttyACM0", "ttyACM0")));
    QCOMPARE(names_of(enumerate()), QStringList{QStringLiteral("KV20 Simulated Module (ttyACM0)")});
}

void SysfsPortsTest::interface_without_usb_ids_is_left_out()
{
    FakeSysfs::UsbTty tty = module_tty("ttyACM0", "ttyACM0");
    tty.usb_ids = false;
    QVERIFY(sysfs->add_usb_tty(tty));
    QVERIFY(enumerate().isEmpty());
}

void SysfsPortsTest::malformed_ids_are_left_out_data()
{
    QTest::addColumn<QString>("vid");
    QTest::addColumn<QString>("pid");
    QTest::addColumn<QString>("interface_number");

    QTest::newRow("empty vendor") << "" << "0001" << "02";
    QTest::newRow("vendor not hex") << "35z5" << "0001" << "02";
    QTest::newRow("vendor too long") << "35050" << "0001" << "02";
    QTest::newRow("product with a path in it") << "3505" << "0001#x" << "02";
    QTest::newRow("interface number too long") << "3505" << "0001" << "002";
    QTest::newRow("interface number not hex") << "3505" << "0001" << "-2";
}

void SysfsPortsTest::malformed_ids_are_left_out()
{
    QFETCH(QString, vid);
    QFETCH(QString, pid);
    QFETCH(QString, interface_number);

    FakeSysfs::UsbTty tty = module_tty("ttyACM0", "ttyACM0");
    tty.vid = vid;
    tty.pid = pid;
    QVERIFY(sysfs->add_usb_tty(tty));
    // The builder names the interface directory by number, so a bad number
    // is written over a good one.
    QVERIFY(sysfs->write_file(QStringLiteral("devices/kv20sim/usb1/1-1/1-1:1.2/bInterfaceNumber"),
                              interface_number.toUtf8() + '\n'));
    QVERIFY(enumerate().isEmpty());
}

void SysfsPortsTest::walk_does_not_leave_the_sysfs_root()
{
    // A complete USB device outside the root the walk was given.
    FakeSysfs outside;
    QVERIFY(outside.ok());
    QVERIFY(outside.add_usb_tty(module_tty("ttyACM9", "ttyACM9")));
    const QString outside_interface = outside.root() + QStringLiteral("/devices/kv20sim/usb1/1-1/1-1:1.2");
    QVERIFY(QFileInfo::exists(outside_interface + QStringLiteral("/bInterfaceNumber")));

    QVERIFY(sysfs->add_tty_linked_to(QStringLiteral("ttyACM9"), outside_interface));
    QVERIFY(enumerate().isEmpty());
}

void SysfsPortsTest::ports_are_sorted_by_tty_name()
{
    const QStringList created{QStringLiteral("ttyUSB0"), QStringLiteral("kv20sim9"), QStringLiteral("ttyACM0"),
                              QStringLiteral("kv20sim10")};
    int usb = 1;
    for (const QString &tty : created) {
        FakeSysfs::UsbTty port = module_tty(tty, tty);
        port.usb_device = QStringLiteral("1-%1").arg(usb++);
        QVERIFY(sysfs->add_usb_tty(port));
    }
    QVERIFY(sysfs->add_platform_tty(QStringLiteral("ttyS0")));

    QStringList expected;
    for (const char *tty : {"kv20sim10", "kv20sim9", "ttyACM0", "ttyUSB0"})
        expected << QStringLiteral("KV20 Simulated Module (%1)").arg(tty);
    QCOMPARE(names_of(enumerate()), expected);
    // Stable from one walk to the next.
    QCOMPARE(names_of(enumerate()), expected);
}

void SysfsPortsTest::missing_root_gives_no_ports()
{
    qputenv("KV20_SYSFS_ROOT", (sysfs->root() + QStringLiteral("/absent")).toLocal8Bit());
    QVERIFY(enumerate().isEmpty());
    // A root without a tty class directory is just as empty.
    qputenv("KV20_SYSFS_ROOT", sysfs->root().toLocal8Bit());
    QVERIFY(enumerate().isEmpty());
}

int run_sysfs_ports_tests(int argc, char **argv)
{
    SysfsPortsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_sysfs_ports.moc"
