#include "discovery/port_rules.h"
#include "message_capture.h"

#include <QtTest>

namespace {

QString usb_path(const char *identity, const char *instance)
{
    return QStringLiteral("\\\\?\\usb#%1#%2#{86e0d1e0-8089-11d0-9ce4-08003e301f73}")
        .arg(QLatin1String(identity), QLatin1String(instance));
}

// What QDebug makes of one string item: quoted, backslashes doubled.
QString quoted(QString text)
{
    return QLatin1Char('"') + text.replace(QLatin1Char('\\'), QStringLiteral("\\\\")) + QLatin1Char('"');
}

// The trace lines of one interface seen and of one taken.
QString seen(const QString &path)
{
    return QStringLiteral("1.sTemp: ") + quoted(path);
}

QString matched(const QString &label, const QString &port_name, const QString &path)
{
    return label + QLatin1Char(' ') + quoted(port_name) + QStringLiteral(" ;string: ") + quoted(path);
}

} // namespace

class PortRulesTest : public QObject
{
    Q_OBJECT

private slots:
    // One interface: the rule that takes it, the port name taken from its
    // name, and the exact trace lines.
    void one_interface_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("label"); // empty: not taken
        QTest::addColumn<QString>("port");

        const QString com7 = QStringLiteral("USB Serial Device (COM7)");
        QTest::newRow("rule 1: 19d1:0001 with &0006")
            << usb_path("vid_19d1&pid_0001&mi_06", "6&2f0a1b&0&0006") << com7 << "2.sTemp:" << "COM7";
        QTest::newRow("19d1:0001 without &0006 falls through rules 2 and 3")
            << usb_path("vid_19d1&pid_0001&mi_02", "6&2f0a1b&0&0002") << com7 << "" << "";
        QTest::newRow("rule 2: 3505:0001 interface 2")
            << usb_path("vid_3505&pid_0001&mi_02", "7&11aa&0&0000") << com7 << "3.sTemp:" << "COM7";
        QTest::newRow("rule 3: 3505:0001 with &0002")
            << usb_path("vid_3505&pid_0001&mi_00", "7&11aa&0&0002") << com7 << "3.sTemp:" << "COM7";
        QTest::newRow("rules 2 and 3 both hold: reported once")
            << usb_path("vid_3505&pid_0001&mi_02", "7&11aa&0&0002") << com7 << "3.sTemp:" << "COM7";
        QTest::newRow("rule 1 is tried before rule 2")
            << usb_path("vid_19d1&pid_0001&mi_06", "vid_3505&pid_0001&mi_02&0006") << com7 << "2.sTemp:" << "COM7";
        QTest::newRow("3505:0001 on another interface")
            << usb_path("vid_3505&pid_0001&mi_00", "7&11aa&0&0000") << com7 << "" << "";
        QTest::newRow("rule 2 identity in capitals")
            << usb_path("VID_3505&PID_0001&MI_02", "7&11AA&0&0000") << com7 << "" << "";
        QTest::newRow("rule 3 identity in capitals with &0002")
            << usb_path("VID_3505&PID_0001&MI_00", "7&11aa&0&0002") << com7 << "" << "";
        QTest::newRow("other vendor's adapter") << usb_path("vid_1a86&pid_7523", "5&3a2b&0&2") << com7 << "" << "";
        QTest::newRow("empty path") << QString() << com7 << "" << "";

        const QString module = usb_path("vid_3505&pid_0001&mi_02", "7&11aa&0&0002");
        QTest::newRow("two parenthesised parts") << module << "Modem (COM12) (2)" << "3.sTemp:" << "COM12";
        QTest::newRow("no parenthesis: skipped") << module << "USB Serial Device COM7" << "" << "";
        QTest::newRow("empty name: skipped") << module << "" << "" << "";
        QTest::newRow("unclosed parenthesis") << module << "Port (COM3" << "3.sTemp:" << "COM3";
        QTest::newRow("nested opening ends the name") << module << "Port (COM4(x))" << "3.sTemp:" << "COM4";
        QTest::newRow("stray closing before the opening") << module << "Port ) (COM5)" << "3.sTemp:" << "COM5";
        QTest::newRow("empty parentheses") << module << "Port ()" << "3.sTemp:" << "";
    }

    void one_interface()
    {
        QFETCH(QString, path);
        QFETCH(QString, name);
        QFETCH(QString, label);
        QFETCH(QString, port);

        MessageCapture capture;
        QStringList ports{QStringLiteral("kept")};
        QCOMPARE(collect_module_ports({{path, name}}, &ports), !label.isEmpty());
        if (label.isEmpty()) {
            QCOMPARE(ports, QStringList{QStringLiteral("kept")});
            QCOMPARE(capture.lines(QtDebugMsg), QStringList{seen(path)});
        } else {
            QCOMPARE(ports, (QStringList{QStringLiteral("kept"), port}));
            QCOMPARE(capture.lines(QtDebugMsg), (QStringList{seen(path), matched(label, port, path)}));
        }
    }

    void several_interfaces_in_enumeration_order()
    {
        const QString module = usb_path("vid_3505&pid_0001&mi_02", "7&11aa&0&0002");
        const QString other = usb_path("vid_1a86&pid_7523", "5&3a2b&0&2");
        const QString alternative = usb_path("vid_19d1&pid_0001&mi_06", "6&2f0a1b&0&0006");
        const QString com9 = QStringLiteral("KV20 AT Port (COM9)");
        MessageCapture capture;
        QStringList ports;
        // No duplicate test: the same port twice gives its name twice.
        QVERIFY(collect_module_ports({{module, com9}, {other, QStringLiteral("USB-SERIAL CH340 (COM3)")},
                                      {alternative, QStringLiteral("Modem (COM12) (2)")}, {module, com9}},
                                     &ports));
        QCOMPARE(ports, (QStringList{"COM9", "COM12", "COM9"}));
        QCOMPARE(capture.lines(QtDebugMsg),
                 (QStringList{seen(module), matched("3.sTemp:", "COM9", module), seen(other), seen(alternative),
                              matched("2.sTemp:", "COM12", alternative), seen(module),
                              matched("3.sTemp:", "COM9", module)}));

        // None found: false, and the list stays as it was.
        QVERIFY(!collect_module_ports({{other, QStringLiteral("CH340 (COM3)")}, {module, QStringLiteral("No name")}},
                                      &ports));
        QVERIFY(!collect_module_ports({}, &ports));
        QCOMPARE(ports, (QStringList{"COM9", "COM12", "COM9"}));
    }
};

int run_port_rules_tests(int argc, char **argv)
{
    PortRulesTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_port_rules.moc"
