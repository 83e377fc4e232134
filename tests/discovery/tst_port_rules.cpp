#include "discovery/port_rules.h"
#include "message_capture.h"

#include <QtTest>

namespace {

const QString guid = QStringLiteral("{86e0d1e0-8089-11d0-9ce4-08003e301f73}");

QString usb_path(const QString &identity, const QString &instance_tail)
{
    return QStringLiteral("\\\\?\\usb#") + identity + QLatin1Char('#') + instance_tail + QLatin1Char('#') + guid;
}

// What QDebug makes of one string item: quoted, backslashes doubled.
QString quoted(QString text)
{
    text.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    return QLatin1Char('"') + text + QLatin1Char('"');
}

} // namespace

class PortRulesTest : public QObject
{
    Q_OBJECT

private slots:
    void identity_decides_label_and_port_data();
    void identity_decides_label_and_port();
    void port_name_extraction_data();
    void port_name_extraction();
    void two_matching_interfaces_give_two_names_in_order();
    void no_match_returns_false_and_keeps_list();
    void names_are_appended_without_duplicate_test();
    void every_interface_is_traced_with_its_path();
};

void PortRulesTest::identity_decides_label_and_port_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("label"); // empty: no rule holds

    QTest::newRow("rule 1: 19d1:0001 with &0006")
        << usb_path("vid_19d1&pid_0001&mi_06", "6&2f0a1b&0&0006") << "2.sTemp:";
    QTest::newRow("rule 1 without &0006 falls through rules 2 and 3")
        << usb_path("vid_19d1&pid_0001&mi_02", "6&2f0a1b&0&0002") << QString();
    QTest::newRow("rule 2: 3505:0001 interface 2")
        << usb_path("vid_3505&pid_0001&mi_02", "7&11aa&0&0000") << "3.sTemp:";
    QTest::newRow("rule 3: 3505:0001 with &0002")
        << usb_path("vid_3505&pid_0001&mi_00", "7&11aa&0&0002") << "3.sTemp:";
    QTest::newRow("3505:0001 on another interface matches nothing")
        << usb_path("vid_3505&pid_0001&mi_00", "7&11aa&0&0000") << QString();
    QTest::newRow("rule 2 identity in capitals matches nothing")
        << usb_path("VID_3505&PID_0001&MI_02", "7&11AA&0&0000") << QString();
    QTest::newRow("capitals with &0002 still match nothing")
        << usb_path("VID_3505&PID_0001&MI_02", "7&11aa&0&0002") << QString();
    QTest::newRow("rule 1 is tried before rule 2")
        << usb_path("vid_19d1&pid_0001&mi_06", "vid_3505&pid_0001&mi_02&0006") << "2.sTemp:";
    QTest::newRow("other vendor's serial adapter")
        << usb_path("vid_1a86&pid_7523", "5&3a2b&0&2") << QString();
    QTest::newRow("other product of the module's vendor")
        << usb_path("vid_3505&pid_0002&mi_02", "7&11aa&0&0002") << QString();
    QTest::newRow("on-board port") << QStringLiteral("\\\\?\\acpi#pnp0501#1#") + guid << QString();
    QTest::newRow("empty path") << QString() << QString();
}

void PortRulesTest::identity_decides_label_and_port()
{
    QFETCH(QString, path);
    QFETCH(QString, label);

    MessageCapture capture;
    QStringList ports;
    const bool found = collect_module_ports({{path, QStringLiteral("USB Serial Device (COM7)")}}, &ports);

    QCOMPARE(found, !label.isEmpty());
    QCOMPARE(ports, label.isEmpty() ? QStringList() : QStringList{QStringLiteral("COM7")});
    QStringList expected{QStringLiteral("1.sTemp: ") + quoted(path)};
    if (!label.isEmpty())
        expected << label + QStringLiteral(" \"COM7\" ;string: ") + quoted(path);
    QCOMPARE(QStringList(capture.lines(QtDebugMsg)), expected);
}

void PortRulesTest::port_name_extraction_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("taken");
    QTest::addColumn<QString>("port");

    QTest::newRow("friendly name") << "USB Serial Device (COM7)" << true << "COM7";
    QTest::newRow("two parenthesised parts") << "Modem (COM12) (2)" << true << "COM12";
    QTest::newRow("Linux device name") << "KV20 Simulated Module (pts/5)" << true << "pts/5";
    QTest::newRow("no parenthesis is skipped") << "USB Serial Device COM7" << false << QString();
    QTest::newRow("empty name is skipped") << QString() << false << QString();
    QTest::newRow("unclosed parenthesis") << "Port (COM3" << true << "COM3";
    QTest::newRow("nested opening ends the part") << "Port (COM4(x))" << true << "COM4";
    QTest::newRow("stray closing before the opening") << "Port ) (COM5)" << true << "COM5";
    QTest::newRow("empty parentheses give an empty name") << "Port ()" << true << "";
}

void PortRulesTest::port_name_extraction()
{
    QFETCH(QString, name);
    QFETCH(bool, taken);
    QFETCH(QString, port);

    MessageCapture capture;
    const QString path = usb_path("vid_3505&pid_0001&mi_02", "7&11aa&0&0002");
    QStringList ports;
    QCOMPARE(collect_module_ports({{path, name}}, &ports), taken);
    QCOMPARE(ports, taken ? QStringList{port} : QStringList());
    // A skipped device leaves only the line that shows it was seen.
    QCOMPARE(capture.lines(QtDebugMsg).size(), taken ? 2 : 1);
}

void PortRulesTest::two_matching_interfaces_give_two_names_in_order()
{
    MessageCapture capture;
    const QList<ComPortInterface> interfaces{
        {usb_path("vid_3505&pid_0001&mi_02", "7&11aa&0&0002"), QStringLiteral("KV20 AT Port (COM9)")},
        {usb_path("vid_1a86&pid_7523", "5&3a2b&0&2"), QStringLiteral("USB-SERIAL CH340 (COM3)")},
        {usb_path("vid_19d1&pid_0001&mi_06", "6&2f0a1b&0&0006"), QStringLiteral("Modem (COM12) (2)")},
    };
    QStringList ports;
    QVERIFY(collect_module_ports(interfaces, &ports));
    QCOMPARE(ports, (QStringList{QStringLiteral("COM9"), QStringLiteral("COM12")}));

    const QStringList lines = capture.lines(QtDebugMsg);
    QCOMPARE(lines.size(), 5);
    QVERIFY(lines.at(0).startsWith(QStringLiteral("1.sTemp: ")));
    QVERIFY(lines.at(1).startsWith(QStringLiteral("3.sTemp: \"COM9\"")));
    QCOMPARE(lines.at(2), QStringLiteral("1.sTemp: ") + quoted(interfaces.at(1).device_path));
    QVERIFY(lines.at(3).startsWith(QStringLiteral("1.sTemp: ")));
    QVERIFY(lines.at(4).startsWith(QStringLiteral("2.sTemp: \"COM12\"")));
}

void PortRulesTest::no_match_returns_false_and_keeps_list()
{
    MessageCapture capture;
    QStringList ports{QStringLiteral("kept")};
    QVERIFY(!collect_module_ports({{usb_path("vid_1a86&pid_7523", "5&3a2b&0&2"), QStringLiteral("CH340 (COM3)")},
                                   {usb_path("VID_3505&PID_0001&MI_02", "7&1&0&0000"), QStringLiteral("X (COM4)")}},
                                  &ports));
    QCOMPARE(ports, QStringList{QStringLiteral("kept")});
    QVERIFY(!collect_module_ports({}, &ports));
    QCOMPARE(ports, QStringList{QStringLiteral("kept")});
    QCOMPARE(capture.count_containing(QtDebugMsg, QStringLiteral("sTemp:")), 2);
    QCOMPARE(capture.count_containing(QtDebugMsg, QStringLiteral("1.sTemp:")), 2);
}

void PortRulesTest::names_are_appended_without_duplicate_test()
{
    MessageCapture capture;
    const ComPortInterface module{usb_path("vid_3505&pid_0001&mi_02", "7&11aa&0&0002"),
                                  QStringLiteral("USB Serial Device (COM7)")};
    QStringList ports{QStringLiteral("COM7")};
    QVERIFY(collect_module_ports({module, module}, &ports));
    QCOMPARE(ports, (QStringList{QStringLiteral("COM7"), QStringLiteral("COM7"), QStringLiteral("COM7")}));
}

void PortRulesTest::every_interface_is_traced_with_its_path()
{
    MessageCapture capture;
    const QString plain = QStringLiteral("usb#vid_3505&pid_0001&mi_02#x&0002");
    QStringList ports;
    QVERIFY(collect_module_ports({{plain, QStringLiteral("Port (COM8)")}}, &ports));
    QCOMPARE(QStringList(capture.lines(QtDebugMsg)),
             (QStringList{QStringLiteral("1.sTemp: \"usb#vid_3505&pid_0001&mi_02#x&0002\""),
                          QStringLiteral("3.sTemp: \"COM8\" ;string: \"usb#vid_3505&pid_0001&mi_02#x&0002\"")}));
    QVERIFY(capture.lines(QtWarningMsg).isEmpty());
}

int run_port_rules_tests(int argc, char **argv)
{
    PortRulesTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_port_rules.moc"
