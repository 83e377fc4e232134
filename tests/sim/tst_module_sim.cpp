#include "tests/sim/tst_module_sim.h"

#include "tests/sim/sim_port.h"
#include "tests/sim/xmodem_frames.h"
#include "tests/support/module_sim_process.h"

#include <QtTest>

void TestModuleSim::reference_checks_match_known_values()
{
    // The tests' own CRC must be right before it can judge the simulator's.
    QCOMPARE(xm::crc16_bitwise("123456789"), quint16(0x31C3));
    QCOMPARE(xm::crc16_bitwise(QByteArray()), quint16(0));
    QCOMPARE(xm::sum8(QByteArray("\xff\x02", 2)), quint8(0x01));
    const QByteArray f = xm::frame(xm::STX, 255, "AB", 1024, true);
    QCOMPARE(f.size(), 1029);
    QCOMPARE(quint8(f[1]), quint8(255));
    QCOMPARE(quint8(f[2]), quint8(0));
    QCOMPARE(f.mid(3, 3), QByteArray("AB\x1a"));
}

void TestModuleSim::answers_each_command_data()
{
    QTest::addColumn<QString>("variant");
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("reply");

    const QByteArray err = "+ERR\r\n";
    QTest::newRow("cellular INFO") << "cellular" << QByteArray("AT+INFO\r\n")
                                   << QByteArray("+ok=KV20SIM000001,860000000000017,89860000000000000017\r\n");
    QTest::newRow("cellular LVER") << "cellular" << QByteArray("AT+LVER\r\n") << QByteArray("+ok=KV20-FW-1.0.7\r\n");
    QTest::newRow("cellular SVER") << "cellular" << QByteArray("AT+SVER\r\n") << QByteArray("+ok=KV20-AU-2.3.1\r\n");
    QTest::newRow("cellular DEVSN") << "cellular" << QByteArray("AT+DEVSN\r\n") << QByteArray("+ok=KV20SIM000001\r\n");
    QTest::newRow("cellular WSMAC") << "cellular" << QByteArray("AT+WSMAC\r\n") << err;
    QTest::newRow("wifi WSMAC") << "wifi" << QByteArray("AT+WSMAC\r\n") << QByteArray("+ok=02:4B:56:32:30:01\r\n");
    QTest::newRow("wifi LVER") << "wifi" << QByteArray("AT+LVER\r\n") << QByteArray("+ok=KV20-FW-1.0.7\r\n");
    QTest::newRow("wifi SVER") << "wifi" << QByteArray("AT+SVER\r\n") << QByteArray("+ok=KV20-AU-2.3.1\r\n");
    QTest::newRow("wifi DEVSN") << "wifi" << QByteArray("AT+DEVSN\r\n") << QByteArray("+ok=KV20SIM000001\r\n");
    QTest::newRow("wifi INFO") << "wifi" << QByteArray("AT+INFO\r\n") << err;
    QTest::newRow("plain AT") << "wifi" << QByteArray("AT\r\n") << QByteArray("+ok\r\n");
    QTest::newRow("unknown") << "cellular" << QByteArray("AT+REBOOT\r\n") << err;
    QTest::newRow("lower case") << "cellular" << QByteArray("at+lver\r\n") << QByteArray("+ok=KV20-FW-1.0.7\r\n");
}

void TestModuleSim::answers_each_command()
{
    QFETCH(QString, variant);
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, reply);

    ModuleSimProcess sim({"--variant", variant});
    QVERIFY(sim.start());
    SimPort port(sim.device_path());
    QVERIFY(port.ok());
    QCOMPARE(port.ask(command), reply);
    // One reply per command, nothing trailing.
    QCOMPARE(port.read_for(20, 60), QByteArray());
    QVERIFY(sim.wait_for_log("command " + command.trimmed(), 1000));
}

void TestModuleSim::values_come_from_options()
{
    ModuleSimProcess sim({"--devno", "D-7", "--imei", "IMEI-1", "--iccid", "ICC,extra", "--fw-version", "9.9",
                          "--audio-version", "A5", "--serial", "S-42"});
    QVERIFY(sim.start());
    SimPort port(sim.device_path());
    QVERIFY(port.ok());
    QCOMPARE(port.ask("AT+INFO\r\n"), QByteArray("+ok=D-7,IMEI-1,ICC,extra\r\n"));
    QCOMPARE(port.ask("AT+LVER\r\n"), QByteArray("+ok=9.9\r\n"));
    QCOMPARE(port.ask("AT+SVER\r\n"), QByteArray("+ok=A5\r\n"));
    QCOMPARE(port.ask("AT+DEVSN\r\n"), QByteArray("+ok=S-42\r\n"));

    ModuleSimProcess wifi({"--variant", "wifi", "--mac", "aa-bb"});
    QVERIFY(wifi.start());
    SimPort wport(wifi.device_path());
    QCOMPARE(wport.ask("AT+WSMAC\r\n"), QByteArray("+ok=aa-bb\r\n"));
}

void TestModuleSim::tolerates_missing_cr_and_empty_lines()
{
    ModuleSimProcess sim({"--variant", "wifi"});
    QVERIFY(sim.start());
    SimPort port(sim.device_path());
    QCOMPARE(port.ask("AT+LVER\n"), QByteArray("+ok=KV20-FW-1.0.7\r\n"));
    QCOMPARE(port.ask("\r\n\n\r\nAT+DEVSN\r\n"), QByteArray("+ok=KV20SIM000001\r\n"));
    // A line is only complete with its LF.
    QVERIFY(port.write("AT+SV"));
    QCOMPARE(port.read_for(20, 150), QByteArray());
    QCOMPARE(port.ask("ER\r\n"), QByteArray("+ok=KV20-AU-2.3.1\r\n"));
    // Two commands in one write get two replies, in order.
    QVERIFY(port.write("AT+LVER\r\nAT+WSMAC\r\n"));
    const QByteArray both = "+ok=KV20-FW-1.0.7\r\n+ok=02:4B:56:32:30:01\r\n";
    QCOMPARE(port.read_exact(int(both.size()), 1000), both);
    QCOMPARE(port.read_for(20, 100), QByteArray());
}

void TestModuleSim::survives_the_port_being_closed_and_reopened()
{
    ModuleSimProcess sim;
    QVERIFY(sim.start());
    {
        SimPort port(sim.device_path());
        QCOMPARE(port.ask("AT+LVER\r\n"), QByteArray("+ok=KV20-FW-1.0.7\r\n"));
    }
    SimPort again(sim.device_path());
    QVERIFY(again.ok());
    QCOMPARE(again.ask("AT+DEVSN\r\n"), QByteArray("+ok=KV20SIM000001\r\n"));
    QVERIFY(sim.running());
}

QTEST_GUILESS_MAIN(TestModuleSim)
