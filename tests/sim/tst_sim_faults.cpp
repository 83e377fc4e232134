#include "tests/sim/tst_module_sim.h"

#include "tests/sim/sim_port.h"
#include "tests/support/module_sim_process.h"

#include <QtTest>

namespace {

const QByteArray kLver = "+ok=KV20-FW-1.0.7\r\n";

// ms from writing `line` until the first reply byte, or -1.
qint64 first_byte_after(SimPort &port, const QByteArray &line, QByteArray &reply, int timeout_ms)
{
    QElapsedTimer timer;
    timer.start();
    if (!port.write(line))
        return -1;
    reply = port.read_exact(1, timeout_ms);
    if (reply.isEmpty())
        return -1;
    const qint64 elapsed = timer.elapsed();
    reply += port.read_for(40, 1000);
    return elapsed;
}

} // namespace

void TestModuleSim::late_reply_keeps_its_delay()
{
    ModuleSimProcess sim({"--late-ms", "250", "--fault-command", "AT+LVER"});
    QVERIFY(sim.start());
    SimPort port(sim.device_path());
    QByteArray reply;

    // Not the faulted command: answered at once.
    const qint64 quick = first_byte_after(port, "AT+DEVSN\r\n", reply, 1000);
    QVERIFY2(quick >= 0 && quick < 100, qPrintable(QString::number(quick)));
    QCOMPARE(reply, QByteArray("+ok=KV20SIM000001\r\n"));

    const qint64 late = first_byte_after(port, "AT+LVER\r\n", reply, 2000);
    QVERIFY2(late >= 245 && late < 450, qPrintable(QString::number(late)));
    QCOMPARE(reply, kLver);
}

void TestModuleSim::reply_comes_in_bursts()
{
    ModuleSimProcess sim({"--bursts", "3", "--burst-gap-ms", "80"});
    QVERIFY(sim.start());
    SimPort port(sim.device_path());
    QVERIFY(port.write("AT+LVER\r\n"));
    const QList<SimPort::Burst> bursts = port.read_bursts(40, 200, 2000);
    QCOMPARE(bursts.size(), 3);
    QByteArray joined;
    for (int i = 0; i < bursts.size(); ++i) {
        joined += bursts[i].bytes;
        if (i > 0) {
            const qint64 gap = bursts[i].start_ms - bursts[i - 1].end_ms;
            QVERIFY2(gap >= 70 && gap < 200, qPrintable(QString::number(gap)));
        }
    }
    QCOMPARE(joined, kLver);
    // Roughly equal parts: none empty, none holding the whole reply.
    for (const SimPort::Burst &b : bursts)
        QVERIFY(b.bytes.size() >= 6 && b.bytes.size() <= 7);
}

void TestModuleSim::reply_shapes_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("prefix_noise"); // "n" followed by the count, or empty
    QTest::addColumn<QByteArray>("reply");

    QTest::newRow("no marker") << QStringList {"--no-marker"} << QByteArray("AT+LVER\r\n") << QByteArray()
                               << QByteArray("KV20-FW-1.0.7\r\n");
    QTest::newRow("NUL before marker") << QStringList {"--nul-before-marker"} << QByteArray("AT+LVER\r\n") << QByteArray()
                                       << QByteArray("\0+ok=KV20-FW-1.0.7\r\n", 20);
    QTest::newRow("noise before") << QStringList {"--garbage-before", "12"} << QByteArray("AT+LVER\r\n") << QByteArray("12")
                                  << kLver;
    QTest::newRow("noise instead") << QStringList {"--garbage-instead", "9"} << QByteArray("AT+LVER\r\n") << QByteArray("9")
                                   << QByteArray();
    QTest::newRow("error reply keeps its text") << QStringList {"--no-marker"} << QByteArray("AT+WSMAC\r\n") << QByteArray()
                                                << QByteArray("+ERR\r\n");
}

void TestModuleSim::reply_shapes()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, prefix_noise);
    QFETCH(QByteArray, reply);

    ModuleSimProcess sim(args);
    QVERIFY(sim.start());
    SimPort port(sim.device_path());
    const QByteArray got = port.ask(command);
    const int noise = prefix_noise.isEmpty() ? 0 : prefix_noise.toInt();
    QCOMPARE(got.size(), noise + reply.size());
    QCOMPARE(got.mid(noise), reply);
    const QByteArray junk = got.left(noise);
    // Noise never looks like part of an answer.
    for (const char c : junk)
        QVERIFY(c != '\0' && c != '\r' && c != '\n' && c != '+' && c != 'C');
}

void TestModuleSim::no_reply_only_to_one_command_for_the_first_times()
{
    ModuleSimProcess sim({"--no-reply", "--fault-command", "lver", "--fault-times", "2"});
    QVERIFY(sim.start());
    SimPort port(sim.device_path());
    QCOMPARE(port.ask("AT+LVER\r\n", 300), QByteArray());
    QCOMPARE(port.ask("AT+DEVSN\r\n"), QByteArray("+ok=KV20SIM000001\r\n"));
    QCOMPARE(port.ask("AT+LVER\r\n", 300), QByteArray());
    QCOMPARE(port.ask("AT+LVER\r\n"), kLver);
    QCOMPARE(port.ask("AT+LVER\r\n"), kLver);
    QVERIFY(sim.wait_for_log("command AT+LVER -> no reply", 500));
}

void TestModuleSim::unplug_after_part_of_a_reply()
{
    ModuleSimProcess sim({"--unplug-reply-bytes", "5", "--fault-command", "AT+LVER"});
    QVERIFY(sim.start());
    SimPort port(sim.device_path());
    QCOMPARE(port.ask("AT+DEVSN\r\n"), QByteArray("+ok=KV20SIM000001\r\n"));
    QVERIFY(port.write("AT+LVER\r\n"));
    QCOMPARE(port.read_exact(5, 1000), kLver.left(5));
    QVERIFY(port.wait_vanished(2000));
    QVERIFY(sim.wait_for_exit(3000));
    QCOMPARE(sim.exit_status(), QProcess::NormalExit);
    QCOMPARE(sim.exit_code(), 0);
    QVERIFY(sim.stderr_log().contains("unplugged"));
}
