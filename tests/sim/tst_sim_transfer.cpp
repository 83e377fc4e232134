#include "tests/sim/tst_module_sim.h"

#include "tests/sim/sim_port.h"
#include "tests/sim/xmodem_frames.h"
#include "tests/support/module_sim_process.h"

#include <QTemporaryDir>
#include <QtTest>

namespace {

const QByteArray kAck = "+ok\r\n\r\n";
const QByteArray kLver = "+ok=KV20-FW-1.0.7\r\n";

QByteArray one(char c)
{
    return QByteArray(1, c);
}

// Sends a frame (or EOT) and returns the receiver's answer.
QByteArray send(SimPort &port, const QByteArray &bytes, int timeout_ms = 1000)
{
    if (!port.write(bytes))
        return "<write failed>";
    return port.read_for(30, timeout_ms);
}

// The download command, its acknowledgement, then the receiver's first
// request. Returns a description of what went wrong, or an empty string.
QString begin_download(SimPort &port, const QByteArray &command, char request)
{
    const QByteArray ack = port.ask(command);
    if (ack != kAck)
        return QStringLiteral("acknowledgement was '%1'").arg(QString::fromLatin1(ack.toPercentEncoding()));
    const QByteArray req = port.read_exact(1, 1500);
    if (req != one(request))
        return QStringLiteral("request was '%1'").arg(QString::fromLatin1(req.toPercentEncoding()));
    return {};
}

QByteArray read_file(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

QByteArray padded(const QByteArray &image, int block)
{
    const int size = (image.size() + block - 1) / block * block;
    return image + QByteArray(size - image.size(), '\x1a');
}

} // namespace

void TestModuleSim::download_in_crc_mode_saves_the_image()
{
    QTemporaryDir dir;
    const QString file = dir.filePath("image.bin");
    ModuleSimProcess sim({"--save-image", file});
    QVERIFY(sim.start());
    SimPort port(sim.device_path());

    QCOMPARE(port.ask("AT+XUPDATE\r\n"), kAck);
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(port.read_exact(1, 1500), one('C'));
    QVERIFY2(timer.elapsed() < 400, qPrintable(QString::number(timer.elapsed())));

    const QByteArray image = xm::image(5000, 0x1234567u);
    for (int n = 1; n <= 5; ++n)
        QCOMPARE(send(port, xm::block_1k(image, n, true)), one(xm::ACK));
    QCOMPARE(send(port, one(xm::EOT)), one(xm::ACK));
    QVERIFY(sim.wait_for_log("image saved: 5120 bytes in 5 blocks", 2000));
    QCOMPARE(read_file(file), padded(image, 1024));

    // Back to commands after the transfer.
    QCOMPARE(port.ask("AT+LVER\r\n"), kLver);
}

void TestModuleSim::download_in_checksum_mode_with_small_frames()
{
    QTemporaryDir dir;
    const QString file = dir.filePath("image.bin");
    ModuleSimProcess sim({"--checksum", "--strip-padding", "--save-image", file});
    QVERIFY(sim.start());
    SimPort port(sim.device_path());
    const QString failure = begin_download(port, "AT+FOTA\r\n", xm::NAK);
    QVERIFY2(failure.isEmpty(), qPrintable(failure));

    const QByteArray image = xm::image(1200, 0xfeedu);
    QCOMPARE(send(port, xm::frame(xm::STX, 1, image.left(1024), 1024, false)), one(xm::ACK));
    QCOMPARE(send(port, xm::frame(xm::SOH, 2, image.mid(1024, 128), 128, false)), one(xm::ACK));
    QCOMPARE(send(port, xm::frame(xm::SOH, 3, image.mid(1152), 128, false)), one(xm::ACK));
    // A CRC frame does not pass in checksum mode.
    QByteArray crc_frame = xm::frame(xm::SOH, 4, "x", 128, true);
    QCOMPARE(send(port, crc_frame.left(crc_frame.size() - 1)), one(xm::NAK));
    QCOMPARE(send(port, one(xm::EOT)), one(xm::ACK));
    QVERIFY(sim.wait_for_log("image saved", 2000));
    QCOMPARE(read_file(file), image);
}

void TestModuleSim::soh_frames_of_256_bytes()
{
    QTemporaryDir dir;
    const QString file = dir.filePath("image.bin");
    ModuleSimProcess sim({"--soh-size", "256", "--save-image", file});
    QVERIFY(sim.start());
    SimPort port(sim.device_path());
    const QString failure = begin_download(port, "AT+XUPDATE\r\n", 'C');
    QVERIFY2(failure.isEmpty(), qPrintable(failure));

    const QByteArray image = xm::image(600, 0xabcdu);
    for (int n = 1; n <= 3; ++n) {
        const QByteArray f = xm::frame(xm::SOH, quint8(n), image.mid((n - 1) * 256, 256), 256, true);
        QCOMPARE(f.size(), 261);
        QCOMPARE(send(port, f), one(xm::ACK));
    }
    QCOMPARE(send(port, one(xm::EOT)), one(xm::ACK));
    QVERIFY(sim.wait_for_log("image saved", 2000));
    QCOMPARE(read_file(file), padded(image, 256));
}

void TestModuleSim::acknowledgement_variants_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("receiving"); // a frame sent next is acknowledged
    QTest::addColumn<int>("min_ms");     // earliest first reply byte

    QTest::newRow("request in the same burst") << QStringList {"--ack-with-c"} << QByteArray("+ok\r\n\r\nC") << true << 0;
    QTest::newRow("upper case") << QStringList {"--ack-upper"} << QByteArray("+OK\r\n\r\n") << true << 0;
    QTest::newRow("late") << QStringList {"--late-ms", "150", "--fault-command", "AT+XUPDATE"} << kAck << true << 145;
    QTest::newRow("none") << QStringList {"--no-download-ack"} << QByteArray() << false << 0;
    QTest::newRow("no reply at all") << QStringList {"--no-reply", "--fault-command", "XUPDATE"} << QByteArray() << false << 0;
}

void TestModuleSim::acknowledgement_variants()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, reply);
    QFETCH(bool, receiving);
    QFETCH(int, min_ms);

    ModuleSimProcess sim(args);
    QVERIFY(sim.start());
    SimPort port(sim.device_path());
    QElapsedTimer timer;
    timer.start();
    QVERIFY(port.write("AT+XUPDATE\r\n"));
    QByteArray got = port.read_exact(1, 400);
    const qint64 first_ms = timer.elapsed();
    if (!got.isEmpty())
        got += port.read_for(40, 500);
    QCOMPARE(got, reply);
    if (!reply.isEmpty())
        QVERIFY2(first_ms >= min_ms, qPrintable(QString::number(first_ms)));

    const QByteArray image = xm::image(100, 7);
    if (receiving) {
        QCOMPARE(send(port, xm::block_1k(image, 1, true)), one(xm::ACK));
    } else {
        // Still taking commands: no transfer started.
        QCOMPARE(port.ask("AT+LVER\r\n"), kLver);
    }
}

void TestModuleSim::request_repeats_up_to_its_limit()
{
    ModuleSimProcess sim({"--first-request-ms", "60", "--request-interval-ms", "100", "--request-limit", "3"});
    QVERIFY(sim.start());
    SimPort port(sim.device_path());
    QVERIFY(port.write("AT+XUPDATE\r\n"));
    const QList<SimPort::Burst> bursts = port.read_bursts(40, 350, 2000);
    QCOMPARE(bursts.size(), 4);
    QCOMPARE(bursts[0].bytes, kAck);
    for (int i = 1; i < 4; ++i) {
        QCOMPARE(bursts[i].bytes, QByteArray("C"));
        const qint64 gap = bursts[i].start_ms - bursts[i - 1].start_ms;
        QVERIFY2(gap >= (i == 1 ? 50 : 90) && gap < 200, qPrintable(QString::number(gap)));
    }
    QVERIFY(sim.wait_for_log("no sender after 3 requests", 1000));
    QCOMPARE(port.ask("AT+LVER\r\n"), kLver);
}

void TestModuleSim::bad_frames_are_naked_and_repeats_not_stored()
{
    QTemporaryDir dir;
    const QString file = dir.filePath("image.bin");
    ModuleSimProcess sim({"--save-image", file});
    QVERIFY(sim.start());
    SimPort port(sim.device_path());
    const QString failure = begin_download(port, "AT+XUPDATE\r\n", 'C');
    QVERIFY2(failure.isEmpty(), qPrintable(failure));

    const QByteArray image = xm::image(2148, 99);
    QByteArray damaged = xm::block_1k(image, 1, true);
    damaged[500] = char(damaged[500] ^ 0x10);
    QCOMPARE(send(port, damaged), one(xm::NAK));
    QByteArray bad_complement = xm::block_1k(image, 1, true);
    bad_complement[2] = char(0x00);
    QCOMPARE(send(port, bad_complement), one(xm::NAK));
    QByteArray bad_crc_low = xm::block_1k(image, 1, true);
    bad_crc_low[1028] = char(bad_crc_low[1028] ^ 0x01);
    QCOMPARE(send(port, bad_crc_low), one(xm::NAK));

    QCOMPARE(send(port, xm::block_1k(image, 1, true)), one(xm::ACK));
    QCOMPARE(send(port, xm::block_1k(image, 1, true)), one(xm::ACK)); // repeat: ACK, not stored
    QCOMPARE(send(port, xm::block_1k(image, 3, true)), one(xm::NAK)); // skips block 2
    QCOMPARE(send(port, xm::block_1k(image, 2, true)), one(xm::ACK));
    QCOMPARE(send(port, xm::block_1k(image, 3, true)), one(xm::ACK));
    QCOMPARE(send(port, one(xm::EOT)), one(xm::ACK));
    QVERIFY(sim.wait_for_log("image saved: 3072 bytes in 3 blocks", 2000));
    QCOMPARE(read_file(file), padded(image, 1024));
    const QByteArray log = sim.stderr_log();
    QVERIFY(log.contains("bad CRC"));
    QVERIFY(log.contains("bad complement"));
    QVERIFY(log.contains("repeat of the previous block"));
    QVERIFY(log.contains("out of sequence"));
}

void TestModuleSim::frame_split_into_chunks_is_assembled()
{
    QTemporaryDir dir;
    const QString file = dir.filePath("image.bin");
    ModuleSimProcess sim({"--save-image", file});
    QVERIFY(sim.start());
    SimPort port(sim.device_path());
    const QString failure = begin_download(port, "AT+XUPDATE\r\n", 'C');
    QVERIFY2(failure.isEmpty(), qPrintable(failure));

    const QByteArray image = xm::image(3000, 4242);
    const QByteArray f1 = xm::block_1k(image, 1, true);
    // Each piece is on the line before the next is written; no answer may
    // come before the frame is whole.
    QVERIFY(port.write(f1.left(1)));
    QCOMPARE(port.read_for(10, 40), QByteArray());
    QVERIFY(port.write(f1.mid(1, 600)));
    QCOMPARE(port.read_for(10, 40), QByteArray());
    QVERIFY(port.write(f1.mid(601, 427)));
    QCOMPARE(port.read_for(10, 40), QByteArray());
    QCOMPARE(send(port, f1.mid(1028)), one(xm::ACK));
    // Two frames in one write: two answers.
    QVERIFY(port.write(xm::block_1k(image, 2, true) + xm::block_1k(image, 3, true)));
    QCOMPARE(port.read_exact(2, 1000), QByteArray("\x06\x06"));
    QCOMPARE(send(port, one(xm::EOT)), one(xm::ACK));
    QVERIFY(sim.wait_for_log("image saved", 2000));
    QCOMPARE(read_file(file), padded(image, 1024));
}

void TestModuleSim::stalled_frame_is_dropped_and_naked()
{
    ModuleSimProcess sim({"--frame-timeout-ms", "300"});
    QVERIFY(sim.start());
    SimPort port(sim.device_path());
    const QString failure = begin_download(port, "AT+XUPDATE\r\n", 'C');
    QVERIFY2(failure.isEmpty(), qPrintable(failure));

    const QByteArray image = xm::image(1024, 5);
    const QByteArray f1 = xm::block_1k(image, 1, true);
    QElapsedTimer timer;
    timer.start();
    QVERIFY(port.write(f1.left(700)));
    QCOMPARE(port.read_exact(1, 2000), one(xm::NAK));
    QVERIFY2(timer.elapsed() >= 290 && timer.elapsed() < 800, qPrintable(QString::number(timer.elapsed())));
    // The dropped part does not linger: a whole frame now passes.
    QCOMPARE(send(port, f1), one(xm::ACK));
    QVERIFY(sim.wait_for_log("frame stalled after 700 of 1029 bytes", 500));
}

void TestModuleSim::nak_fault_on_first_sends_of_a_block()
{
    QTemporaryDir dir;
    const QString file = dir.filePath("image.bin");
    ModuleSimProcess sim({"--nak-block", "2", "--nak-times", "2", "--save-image", file});
    QVERIFY(sim.start());
    SimPort port(sim.device_path());
    const QString failure = begin_download(port, "AT+XUPDATE\r\n", 'C');
    QVERIFY2(failure.isEmpty(), qPrintable(failure));

    const QByteArray image = xm::image(3072, 777);
    QCOMPARE(send(port, xm::block_1k(image, 1, true)), one(xm::ACK));
    QCOMPARE(send(port, xm::block_1k(image, 2, true)), one(xm::NAK));
    QCOMPARE(send(port, xm::block_1k(image, 2, true)), one(xm::NAK));
    QCOMPARE(send(port, xm::block_1k(image, 2, true)), one(xm::ACK));
    QCOMPARE(send(port, xm::block_1k(image, 3, true)), one(xm::ACK));
    QCOMPARE(send(port, one(xm::EOT)), one(xm::ACK));
    QVERIFY(sim.wait_for_log("image saved: 3072 bytes in 3 blocks", 2000));
    QCOMPARE(read_file(file), image);
}

void TestModuleSim::cancel_after_a_block_data()
{
    QTest::addColumn<QString>("gap");
    QTest::addColumn<int>("bursts");
    QTest::newRow("one at a time") << "60" << 2;
    QTest::newRow("in one burst") << "0" << 1;
}

void TestModuleSim::cancel_after_a_block()
{
    QFETCH(QString, gap);
    QFETCH(int, bursts);

    ModuleSimProcess sim({"--cancel-block", "2", "--cancel-gap-ms", gap});
    QVERIFY(sim.start());
    SimPort port(sim.device_path());
    const QString failure = begin_download(port, "AT+XUPDATE\r\n", 'C');
    QVERIFY2(failure.isEmpty(), qPrintable(failure));

    const QByteArray image = xm::image(3000, 31337);
    QCOMPARE(send(port, xm::block_1k(image, 1, true)), one(xm::ACK));
    QVERIFY(port.write(xm::block_1k(image, 2, true)));
    const QList<SimPort::Burst> got = port.read_bursts(25, 200, 1000);
    QCOMPARE(got.size(), bursts);
    QByteArray all;
    for (const SimPort::Burst &b : got)
        all += b.bytes;
    QCOMPARE(all, QByteArray("\x18\x18"));
    if (bursts == 2) {
        const qint64 pause = got[1].start_ms - got[0].end_ms;
        QVERIFY2(pause >= 50 && pause < 200, qPrintable(QString::number(pause)));
    }
    // The sender confirms as the tool does; the module takes commands again.
    QVERIFY(port.write(one(xm::ACK)));
    QCOMPARE(port.ask("AT+LVER\r\n"), kLver);
}

void TestModuleSim::silent_from_a_block()
{
    ModuleSimProcess sim({"--silent-block", "2"});
    QVERIFY(sim.start());
    SimPort port(sim.device_path());
    const QString failure = begin_download(port, "AT+XUPDATE\r\n", 'C');
    QVERIFY2(failure.isEmpty(), qPrintable(failure));

    const QByteArray image = xm::image(3000, 8);
    QCOMPARE(send(port, xm::block_1k(image, 1, true)), one(xm::ACK));
    QCOMPARE(send(port, xm::block_1k(image, 2, true), 400), QByteArray());
    QCOMPARE(send(port, xm::block_1k(image, 2, true), 300), QByteArray());
    QCOMPARE(send(port, one(xm::EOT), 300), QByteArray());
    QVERIFY(sim.stderr_log().contains("falling silent"));
    // The sender gives up the way the tool does: three CAN bytes.
    QVERIFY(port.write("\x18\x18\x18"));
    QVERIFY(sim.wait_for_log("cancelled by the sender", 1000));
    QCOMPARE(port.ask("AT+LVER\r\n"), kLver);
}

void TestModuleSim::eot_replies_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QByteArray>("reply");
    QTest::newRow("nak") << "nak" << one(xm::NAK);
    QTest::newRow("nul") << "nul" << QByteArray("\0\x06", 2);
    QTest::newRow("none") << "none" << QByteArray();
}

void TestModuleSim::eot_replies()
{
    QFETCH(QString, mode);
    QFETCH(QByteArray, reply);

    QTemporaryDir dir;
    const QString file = dir.filePath("image.bin");
    ModuleSimProcess sim({"--eot-reply", mode, "--save-image", file});
    QVERIFY(sim.start());
    SimPort port(sim.device_path());
    const QString failure = begin_download(port, "AT+XUPDATE\r\n", 'C');
    QVERIFY2(failure.isEmpty(), qPrintable(failure));

    const QByteArray image = xm::image(1500, 1500);
    QCOMPARE(send(port, xm::block_1k(image, 1, true)), one(xm::ACK));
    QCOMPARE(send(port, xm::block_1k(image, 2, true)), one(xm::ACK));
    QCOMPARE(send(port, one(xm::EOT), 300), reply);
    // The image is complete with the first EOT, whatever the answer.
    QVERIFY(sim.wait_for_log("image saved", 1000));
    QCOMPARE(read_file(file), padded(image, 1024));
    // Only the first EOT gets the fault.
    QCOMPARE(send(port, one(xm::EOT)), one(xm::ACK));
    QCOMPARE(port.ask("AT+LVER\r\n"), kLver);
}

void TestModuleSim::unplug_in_the_middle_of_a_transfer()
{
    QTemporaryDir dir;
    const QString file = dir.filePath("image.bin");
    ModuleSimProcess sim({"--unplug-block", "2", "--save-image", file});
    QVERIFY(sim.start());
    SimPort port(sim.device_path());
    const QString failure = begin_download(port, "AT+XUPDATE\r\n", 'C');
    QVERIFY2(failure.isEmpty(), qPrintable(failure));

    const QByteArray image = xm::image(3000, 12);
    QCOMPARE(send(port, xm::block_1k(image, 1, true)), one(xm::ACK));
    QVERIFY(port.write(xm::block_1k(image, 2, true)));
    QVERIFY(port.wait_vanished(2000));
    QVERIFY(sim.wait_for_exit(3000));
    QCOMPARE(sim.exit_code(), 0);
    QVERIFY(sim.stderr_log().contains("unplugged"));
    QVERIFY(!QFile::exists(file));
}

void TestModuleSim::command_instead_of_frame_ends_the_transfer()
{
    ModuleSimProcess sim;
    QVERIFY(sim.start());
    SimPort port(sim.device_path());
    QString failure = begin_download(port, "AT+XUPDATE\r\n", 'C');
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    // A tool that gave up and queries again is answered at once.
    QCOMPARE(port.ask("AT+LVER\r\n"), kLver);
    QVERIFY(sim.stderr_log().contains("a command arrived instead of a frame"));

    failure = begin_download(port, "AT+FOTA\r\n", 'C');
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    const QByteArray image = xm::image(2000, 2000);
    QCOMPARE(send(port, xm::block_1k(image, 1, true)), one(xm::ACK));
    QCOMPARE(port.ask("AT+DEVSN\r\n"), QByteArray("+ok=KV20SIM000001\r\n"));
}
