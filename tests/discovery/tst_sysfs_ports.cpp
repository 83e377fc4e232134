#include "discovery/port_enumerator.h"
#include "discovery/port_rules.h"
#include "fake_sysfs.h"
#include "message_capture.h"

#include <QtTest>

#include <memory>

class SysfsPortsTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<FakeSysfs> sysfs;

private slots:
    void init()
    {
        sysfs = std::make_unique<FakeSysfs>();
        QVERIFY(sysfs->ok());
        qputenv("KV20_SYSFS_ROOT", QFile::encodeName(sysfs->root()));
    }

    void cleanup()
    {
        qunsetenv("KV20_SYSFS_ROOT");
        sysfs.reset();
    }

    // One USB tty (ttyUSB0 when nested under a usb-serial port, else
    // ttyACM0): the device path and name it is listed with, and the port the
    // identity rules take from it.
    void usb_tty_data()
    {
        QTest::addColumn<QString>("ids");     // vid:pid:interface
        QTest::addColumn<QString>("usb_device");
        QTest::addColumn<QString>("product"); // null: no product file
        QTest::addColumn<bool>("nested");
        QTest::addColumn<QString>("devname");
        QTest::addColumn<QString>("path");    // between "usb#" and the class guid; empty: not listed
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("port");    // empty: not the module

        const QString sim = QStringLiteral("KV20 Simulated Module");
        QTest::newRow("module") << "3505:0001:02" << "1-1" << sim << false << "pts/7"
                                << "vid_3505&pid_0001&mi_02#1-1&0002" << "KV20 Simulated Module (pts/7)" << "pts/7";
        QTest::newRow("alternative identity in capital hex")
            << "19D1:0001:06" << "2-1.4" << "Modem" << false << "ttyACM0" << "vid_19d1&pid_0001&mi_06#2-1.4&0006"
            << "Modem (ttyACM0)" << "ttyACM0";
        QTest::newRow("other vendor's adapter under a usb-serial port")
            << "1a86:7523:00" << "1-2" << "USB Serial" << true << "ttyUSB0" << "vid_1a86&pid_7523&mi_00#1-2&0000"
            << "USB Serial (ttyUSB0)" << "";
        QTest::newRow("no product, no DEVNAME, one-digit interface")
            << "3505:0001:2" << "3-2" << QString() << false << "" << "vid_3505&pid_0001&mi_02#3-2&0002"
            << "USB Serial Device (ttyACM0)" << "ttyACM0";
        QTest::newRow("parentheses in the product")
            << "3505:0001:02" << "1-1" << "Module (rev 2)" << false << "ttyACM0" << "vid_3505&pid_0001&mi_02#1-1&0002"
            << "Module [rev 2] (ttyACM0)" << "ttyACM0";
        QTest::newRow("module on another interface")
            << "3505:0001:00" << "1-1" << sim << false << "ttyACM0" << "vid_3505&pid_0001&mi_00#1-1&0000"
            << "KV20 Simulated Module (ttyACM0)" << "";
        QTest::newRow("no USB ids") << "::02" << "1-1" << sim << false << "ttyACM0" << "" << "" << "";
        QTest::newRow("vendor not hex") << "35z5:0001:02" << "1-1" << sim << false << "ttyACM0" << "" << "" << "";
        QTest::newRow("vendor too long") << "35050:0001:02" << "1-1" << sim << false << "ttyACM0" << "" << "" << "";
        QTest::newRow("product id with a path in it")
            << "3505:0001#x:02" << "1-1" << sim << false << "ttyACM0" << "" << "" << "";
        QTest::newRow("interface number too long")
            << "3505:0001:002" << "1-1" << sim << false << "ttyACM0" << "" << "" << "";
    }

    void usb_tty()
    {
        QFETCH(QString, ids);
        QFETCH(QString, usb_device);
        QFETCH(QString, product);
        QFETCH(bool, nested);
        QFETCH(QString, devname);
        QFETCH(QString, path);
        QFETCH(QString, name);
        QFETCH(QString, port);

        FakeSysfs::UsbTty tty;
        tty.tty = nested ? QStringLiteral("ttyUSB0") : QStringLiteral("ttyACM0");
        tty.devname = devname;
        tty.usb_device = usb_device;
        tty.vid = ids.section(QLatin1Char(':'), 0, 0);
        tty.pid = ids.section(QLatin1Char(':'), 1, 1);
        tty.interface_number = ids.section(QLatin1Char(':'), 2, 2);
        tty.product = product;
        tty.usb_serial_port = nested;
        QVERIFY(sysfs->add_usb_tty(tty));

        const QList<ComPortInterface> ports = enumerate_com_port_interfaces();
        if (path.isEmpty()) {
            QVERIFY(ports.isEmpty());
            return;
        }
        QCOMPARE(ports.size(), 1);
        QCOMPARE(ports.at(0).device_path,
                 QStringLiteral("\\\\?\\usb#") + path + QStringLiteral("#{86e0d1e0-8089-11d0-9ce4-08003e301f73}"));
        QCOMPARE(ports.at(0).name, name);

        MessageCapture capture;
        QStringList found;
        QCOMPARE(collect_module_ports(ports, &found), !port.isEmpty());
        QCOMPARE(found, port.isEmpty() ? QStringList() : QStringList{port});
    }

    void only_usb_ttys_are_listed_in_name_order()
    {
        QVERIFY(sysfs->add_platform_tty(QStringLiteral("ttyS0")));
        QVERIFY(sysfs->add_virtual_tty(QStringLiteral("tty0")));
        QVERIFY(enumerate_com_port_interfaces().isEmpty());

        int usb = 1;
        for (const char *name : {"ttyUSB0", "kv20sim9", "ttyACM0", "kv20sim10"}) {
            FakeSysfs::UsbTty tty;
            tty.tty = tty.devname = QString::fromLatin1(name);
            tty.usb_device = QStringLiteral("1-%1").arg(usb++);
            tty.usb_serial_port = tty.tty.startsWith(QLatin1String("ttyUSB"));
            QVERIFY(sysfs->add_usb_tty(tty));
        }
        QStringList names, expected;
        for (const ComPortInterface &port : enumerate_com_port_interfaces())
            names << port.name;
        for (const char *name : {"kv20sim10", "kv20sim9", "ttyACM0", "ttyUSB0"})
            expected << QStringLiteral("KV20 Simulated Module (%1)").arg(QLatin1String(name));
        QCOMPARE(names, expected);

        qputenv("KV20_SYSFS_ROOT", QFile::encodeName(sysfs->root() + QStringLiteral("/absent")));
        QVERIFY(enumerate_com_port_interfaces().isEmpty());
    }
};

int run_sysfs_ports_tests(int argc, char **argv)
{
    SysfsPortsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_sysfs_ports.moc"
