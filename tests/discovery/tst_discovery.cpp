// Which ports are the module's: the identity rules over the system's port
// list, and the Linux walk that builds that list from a fabricated sysfs tree.
#include "discovery/port_enumerator.h"
#include "discovery/port_rules.h"
#include "tests/discovery/fake_sysfs.h"

#include <QtTest>

namespace {
QString usb_path(const QString &ids)
{
    return "\\\\?\\usb#" + ids + "#{86e0d1e0-8089-11d0-9ce4-08003e301f73}";
}
QStringList listed()
{
    QStringList out;
    for (const ComPortInterface &port : enumerate_com_port_interfaces())
        out << port.device_path << port.name;
    return out;
}
} // namespace

class DiscoveryTest : public QObject
{
    Q_OBJECT

    const QString root = QDir::temp().filePath(QString("kv20-sysfs-%1").arg(QCoreApplication::applicationPid()));

private slots:
    void initTestCase() { qputenv("KV20_SYSFS_ROOT", root.toLocal8Bit()); }
    void cleanup() { QDir(root).removeRecursively(); }

    void identity_rules_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("port"); // empty: not the module's
        const QString com7 = "USB Serial Device (COM7)", ours = usb_path("vid_3505&pid_0001&mi_02#7&11aa&0&0002");
        QTest::newRow("19d1:0001 with &0006") << usb_path("vid_19d1&pid_0001&mi_06#6&2f0a1b&0&0006") << com7 << "COM7";
        QTest::newRow("19d1:0001 without &0006") << usb_path("vid_19d1&pid_0001&mi_02#6&2f0a1b&0&0002") << com7 << "";
        QTest::newRow("3505:0001 interface 2") << usb_path("vid_3505&pid_0001&mi_02#7&11aa&0&0000") << com7 << "COM7";
        QTest::newRow("3505:0001 with &0002") << usb_path("vid_3505&pid_0001&mi_00#7&11aa&0&0002") << com7 << "COM7";
        QTest::newRow("both 3505 rules: once") << ours << com7 << "COM7";
        QTest::newRow("3505:0001 elsewhere") << usb_path("vid_3505&pid_0001&mi_00#7&11aa&0&0000") << com7 << "";
        QTest::newRow("in capitals") << usb_path("VID_3505&PID_0001&MI_02#7&11AA&0&0000") << com7 << "";
        QTest::newRow("other vendor") << usb_path("vid_1a86&pid_7523#5&3a2b&0&2") << com7 << "";
        QTest::newRow("two parenthesised parts") << ours << "Modem (COM12) (2)" << "COM12";
        QTest::newRow("nested opening, unclosed") << ours << "Port (COM4(x" << "COM4";
        QTest::newRow("closing first") << ours << "Port ) (COM5)" << "COM5";
        QTest::newRow("no parenthesis") << ours << "USB Serial Device COM7" << "";
    }
    void identity_rules()
    {
        QFETCH(QString, path);
        QFETCH(QString, name);
        QFETCH(QString, port);
        QStringList ports{"kept"};
        QCOMPARE(collect_module_ports({{path, name}}, &ports), !port.isEmpty());
        QCOMPARE(ports, (port.isEmpty() ? QStringList{"kept"} : QStringList{"kept", port}));
    }

    // One USB tty "ttyX" (DEVNAME pts/7 unless under a usb-serial port): the
    // device path and name it is listed with, or nothing.
    void usb_tty_data()
    {
        QTest::addColumn<QString>("ids"); // vid:pid:interface
        QTest::addColumn<QString>("product");
        QTest::addColumn<bool>("usb_serial");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("name");
        QTest::newRow("module") << "3505:0001:02" << "KV20" << false << "vid_3505&pid_0001&mi_02#2-1.4&0002" << "KV20 (pts/7)";
        QTest::newRow("capital hex, usb-serial")
            << "19D1:0001:6" << "Modem" << true << "vid_19d1&pid_0001&mi_06#2-1.4&0006" << "Modem (ttyX)";
        QTest::newRow("no product") << "3505:0001:02" << QString() << false << "vid_3505&pid_0001&mi_02#2-1.4&0002"
                                    << "USB Serial Device (pts/7)";
        QTest::newRow("parentheses in product")
            << "1a86:7523:00" << "M (rev 2)" << false << "vid_1a86&pid_7523&mi_00#2-1.4&0000" << "M [rev 2] (pts/7)";
        for (const char *ids : {"35z5:0001:02", "35050:0001:02", "3505:0001#x:02", "3505:0001:002"})
            QTest::addRow("malformed %s", ids) << ids << "KV20" << false << "" << "";
    }
    void usb_tty()
    {
        QFETCH(QString, ids);
        QFETCH(QString, product);
        QFETCH(bool, usb_serial);
        QFETCH(QString, path);
        QFETCH(QString, name);
        const QStringList id = ids.split(':');
        QVERIFY(fake_sysfs::add_usb_tty(root, {"ttyX", usb_serial ? "" : "pts/7", "2-1.4", id[0], id[1], id[2], product,
                                               usb_serial}));
        QCOMPARE(listed(), (path.isEmpty() ? QStringList() : QStringList{usb_path(path), name}));
    }

    // The slot is the socket's place on the USB tree, whatever the tty is
    // called: ttyACM numbers follow the plug-in order.
    void slots_from_the_usb_tree_data()
    {
        QTest::addColumn<QStringList>("ttys");    // tty:usb chain[:s for usb-serial]
        QTest::addColumn<QStringList>("listed");  // port:slot, in the walk's order
        QTest::newRow("root port") << QStringList {"ttyACM0:1-2"} << QStringList {"ttyACM0:1-2"};
        QTest::newRow("behind a hub") << QStringList {"ttyACM0:1-1.4"} << QStringList {"ttyACM0:1-1.4"};
        QTest::newRow("a hub behind a hub, plugged in out of order")
            << QStringList {"ttyACM0:1-1.4.2", "ttyACM1:1-1.4.1", "ttyACM2:2-3.1.7"}
            << QStringList {"ttyACM0:1-1.4.2", "ttyACM1:1-1.4.1", "ttyACM2:2-3.1.7"};
        QTest::newRow("usb-serial behind hubs") << QStringList {"ttyUSB0:3-2.1.1:s"} << QStringList {"ttyUSB0:3-2.1.1"};
    }
    void slots_from_the_usb_tree()
    {
        QFETCH(QStringList, ttys);
        QFETCH(QStringList, listed);
        for (const QString &tty : ttys) {
            const QStringList t = tty.split(':');
            QVERIFY(fake_sysfs::add_usb_tty(root, {t[0], t[0], t[1], "3505", "0001", "02", "KV20", t.size() > 2}));
        }
        QStringList found;
        for (const ModulePort &port : find_module_ports())
            found << port.port + ':' + port.slot;
        QCOMPARE(found, listed);
    }

    void only_usb_ttys_in_name_order()
    {
        QVERIFY(fake_sysfs::add_tty(root, "devices/platform/serial8250/tty/ttyS0", "ttyS0", "ttyS0"));
        QVERIFY(fake_sysfs::add_tty(root, "devices/virtual/tty/tty0", "tty0", "tty0", false));
        for (const char *tty : {"kv20sim9", "ttyUSB0", "kv20sim10", "kv20sim11"})
            QVERIFY(fake_sysfs::add_usb_tty(root, {tty, tty, QString("1-") + tty}));
        // Leaving as the walk passes it: its uevent already gone.
        QVERIFY(QFile::remove(root + "/devices/usb1/1-kv20sim11/1-kv20sim11:1.2/tty/kv20sim11/uevent"));
        const QStringList all = listed();
        QCOMPARE(all.size(), 6);
        QCOMPARE(all.filter(" ("), (QStringList{"KV20 Module (kv20sim10)", "KV20 Module (kv20sim9)", "KV20 Module (ttyUSB0)"}));
    }
};

QTEST_GUILESS_MAIN(DiscoveryTest)
#include "tst_discovery.moc"
