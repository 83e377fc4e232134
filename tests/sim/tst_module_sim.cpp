#include "tests/sim/sim_port.h"
#include "tests/support/module_sim_process.h"
#include "tests/xmodem/xmodem_frames.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

using Lines = QVector<QByteArray>;

namespace {

const QByteArray lver = "+ok=KV20-FW-1.0.7\r\n", devsn = "+ok=KV20SIM000001\r\n", ok_ack = "+ok\r\n\r\n";

QByteArray one(char c) { return QByteArray(1, c); }

QByteArray file_text(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// The link's own text, not the resolved target.
QByteArray link_text(const QString &path)
{
    char buf[4096];
    const ssize_t n = ::readlink(QFile::encodeName(path).constData(), buf, sizeof buf);
    return n > 0 ? QByteArray(buf, int(n)) : QByteArray("<not a link>");
}

// The download command, its acknowledgement, then the receiver's first
// request; empty when all came as expected.
QString begin_download(SimPort &port, const QByteArray &command = "AT+XUPDATE\r\n", char request = 'C')
{
    const QByteArray ack = port.ask(command);
    const QByteArray req = port.read_exact(1, 1500);
    if (ack == ok_ack && req == one(request))
        return {};
    return QStringLiteral("acknowledgement '%1', request '%2'")
        .arg(QString(ack.toPercentEncoding()), QString(req.toHex()));
}

// Sends a frame (or any bytes) and returns the answer; silence is awaited for 300 ms.
QByteArray send(SimPort &port, const QByteArray &bytes, bool expect_silence = false)
{
    return port.write(bytes) ? port.read_for(30, expect_silence ? 300 : 1000) : "<write failed>";
}

} // namespace

// The module simulator driven through its pty as the tool drives a module.
class TestModuleSim : public QObject
{
    Q_OBJECT

private slots:
    void commands_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<QByteArray>("reply");
        const QStringList cell {"--variant", "cellular"}, wifi {"--variant", "wifi"};
        const QByteArray err = "+ERR\r\n";
        QTest::newRow("cellular INFO") << cell << QByteArray("AT+INFO\r\n")
                                       << QByteArray("+ok=KV20SIM000001,860000000000017,89860000000000000017\r\n");
        QTest::newRow("cellular LVER") << cell << QByteArray("AT+LVER\r\n") << lver;
        QTest::newRow("cellular SVER") << cell << QByteArray("AT+SVER\r\n") << QByteArray("+ok=KV20-AU-2.3.1\r\n");
        QTest::newRow("cellular DEVSN") << cell << QByteArray("AT+DEVSN\r\n") << devsn;
        QTest::newRow("cellular WSMAC") << cell << QByteArray("AT+WSMAC\r\n") << err;
        QTest::newRow("wifi WSMAC") << wifi << QByteArray("AT+WSMAC\r\n") << QByteArray("+ok=02:4B:56:32:30:01\r\n");
        QTest::newRow("wifi LVER") << wifi << QByteArray("AT+LVER\r\n") << lver;
        QTest::newRow("wifi SVER") << wifi << QByteArray("AT+SVER\r\n") << QByteArray("+ok=KV20-AU-2.3.1\r\n");
        QTest::newRow("wifi DEVSN") << wifi << QByteArray("AT+DEVSN\r\n") << devsn;
        QTest::newRow("wifi INFO") << wifi << QByteArray("AT+INFO\r\n") << err;
        QTest::newRow("plain AT") << wifi << QByteArray("AT\r\n") << QByteArray("+ok\r\n");
        QTest::newRow("unknown") << cell << QByteArray("AT+REBOOT\r\n") << err;
        QTest::newRow("lower case") << cell << QByteArray("at+lver\r\n") << lver;
        QTest::newRow("LF alone ends a line") << cell << QByteArray("AT+LVER\n") << lver;
        QTest::newRow("empty lines ignored") << cell << QByteArray("\r\n\n\r\nAT+DEVSN\r\n") << devsn;
        QTest::newRow("values from options")
            << QStringList {"--devno", "D-7", "--imei", "IMEI-1", "--iccid", "ICC,x", "--fw-version", "9.9",
                            "--audio-version", "A5", "--serial", "S-42"}
            << QByteArray("AT+INFO\r\nAT+LVER\r\nAT+SVER\r\nAT+DEVSN\r\n")
            << QByteArray("+ok=D-7,IMEI-1,ICC,x\r\n+ok=9.9\r\n+ok=A5\r\n+ok=S-42\r\n");
        QTest::newRow("MAC from options") << QStringList {"--variant", "wifi", "--mac", "aa-bb"}
                                          << QByteArray("AT+WSMAC\r\n") << QByteArray("+ok=aa-bb\r\n");
    }

    void commands()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, command);
        QFETCH(QByteArray, reply);
        ModuleSimProcess sim(args);
        QVERIFY(sim.start());
        SimPort port(sim.device_path());
        QCOMPARE(port.ask(command), reply);
    }

    void port_reopened_then_sigterm()
    {
        ModuleSimProcess sim({"--quiet"});
        QVERIFY(sim.start());
        QCOMPARE(SimPort(sim.device_path()).ask("AT+LVER\r\n"), lver);
        SimPort again(sim.device_path());
        QCOMPARE(again.ask("AT+DEVSN\r\n"), devsn);
        sim.stop();
        QCOMPARE(sim.exit_status(), QProcess::NormalExit);
        QCOMPARE(sim.exit_code(), 0);
        QCOMPARE(sim.stderr_log(), QByteArray());
    }

    void reply_faults_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<int>("noise");  // bytes of noise before the reply
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("bursts");
        QTest::addColumn<int>("min_ms");  // bounds of the first byte
        QTest::addColumn<int>("max_ms");
        const QStringList late {"--late-ms", "250", "--fault-command", "AT+LVER"};
        const QByteArray cmd = "AT+LVER\r\n";
        QTest::newRow("late") << late << cmd << 0 << lver << 1 << 245 << 450;
        QTest::newRow("late: other command at once") << late << QByteArray("AT+DEVSN\r\n") << 0 << devsn << 1 << 0
                                                     << 100;
        QTest::newRow("three bursts, 80 ms apart") << QStringList {"--bursts", "3", "--burst-gap-ms", "80"} << cmd
                                                   << 0 << lver << 3 << 0 << 100;
        QTest::newRow("no marker") << QStringList {"--no-marker"} << cmd << 0 << QByteArray("KV20-FW-1.0.7\r\n") << 1
                                   << 0 << 100;
        QTest::newRow("error text kept") << QStringList {"--no-marker"} << QByteArray("AT+WSMAC\r\n") << 0
                                         << QByteArray("+ERR\r\n") << 1 << 0 << 100;
        QTest::newRow("NUL before marker") << QStringList {"--nul-before-marker"} << cmd << 0
                                           << QByteArray("\0+ok=KV20-FW-1.0.7\r\n", 20) << 1 << 0 << 100;
        QTest::newRow("noise before") << QStringList {"--garbage-before", "12"} << cmd << 12 << lver << 1 << 0 << 100;
        QTest::newRow("noise instead") << QStringList {"--garbage-instead", "9"} << cmd << 9 << QByteArray() << 1 << 0
                                       << 100;
        QTest::newRow("no reply") << QStringList {"--no-reply"} << cmd << 0 << QByteArray() << 0 << 0 << 0;
    }

    void reply_faults()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, command);
        QFETCH(int, noise);
        QFETCH(QByteArray, reply);
        QFETCH(int, bursts);
        QFETCH(int, min_ms);
        QFETCH(int, max_ms);
        ModuleSimProcess sim(args);
        QVERIFY(sim.start());
        SimPort port(sim.device_path());
        QVERIFY(port.write(command));
        const QList<SimPort::Burst> got = port.read_bursts(40, 200, 600);
        const QByteArray all = SimPort::joined(got);
        QCOMPARE(all.mid(noise), reply);
        QCOMPARE(all.size(), noise + reply.size());
        for (const char c : all.left(noise))  // noise never looks like part of an answer
            QVERIFY(c != '\0' && c != '\r' && c != '\n' && c != '+' && c != 'C');
        QCOMPARE(got.size(), bursts);
        if (!got.isEmpty())
            QVERIFY2(got[0].start_ms >= min_ms && got[0].start_ms <= max_ms,
                     qPrintable(QString::number(got[0].start_ms)));
        for (int i = 1; i < got.size(); ++i) {
            const qint64 gap = got[i].start_ms - got[i - 1].end_ms;
            QVERIFY2(gap >= 70 && gap < 200, qPrintable(QString::number(gap)));
        }
    }

    void fault_for_one_command_the_first_times()
    {
        ModuleSimProcess sim({"--no-reply", "--fault-command", "lver", "--fault-times", "2"});
        QVERIFY(sim.start());
        SimPort port(sim.device_path());
        QCOMPARE(port.ask("AT+LVER\r\n", 300), QByteArray());
        QCOMPARE(port.ask("AT+DEVSN\r\n"), devsn);
        QCOMPARE(port.ask("AT+LVER\r\n", 300), QByteArray());
        QCOMPARE(port.ask("AT+LVER\r\n"), lver);
        QCOMPARE(port.ask("AT+LVER\r\n"), lver);
    }

    void unplug_after_part_of_a_reply()
    {
        ModuleSimProcess sim({"--unplug-reply-bytes", "5", "--fault-command", "AT+LVER"});
        QVERIFY(sim.start());
        SimPort port(sim.device_path());
        QCOMPARE(port.ask("AT+DEVSN\r\n"), devsn);
        QVERIFY(port.write("AT+LVER\r\n"));
        QCOMPARE(port.read_exact(5, 1000), lver.left(5));
        QVERIFY(port.wait_vanished(2000));
        QVERIFY(sim.wait_for_exit(3000));
        QCOMPARE(sim.exit_status(), QProcess::NormalExit);
        QCOMPARE(sim.exit_code(), 0);
    }

    void download_acknowledgement_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("receiving");  // a frame sent next is acknowledged
        QTest::addColumn<int>("min_ms");      // earliest first reply byte
        QTest::newRow("request in the same burst") << QStringList {"--ack-with-c"} << QByteArray("+ok\r\n\r\nC")
                                                   << true << 0;
        QTest::newRow("upper case") << QStringList {"--ack-upper"} << QByteArray("+OK\r\n\r\n") << true << 0;
        QTest::newRow("late") << QStringList {"--late-ms", "150", "--fault-command", "AT+XUPDATE"} << ok_ack << true
                              << 145;
        QTest::newRow("none") << QStringList {"--no-download-ack"} << QByteArray() << false << 0;
        QTest::newRow("no reply") << QStringList {"--no-reply", "--fault-command", "XUPDATE"} << QByteArray() << false
                                  << 0;
    }

    void download_acknowledgement()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, reply);
        QFETCH(bool, receiving);
        QFETCH(int, min_ms);
        ModuleSimProcess sim(args);
        QVERIFY(sim.start());
        SimPort port(sim.device_path());
        QVERIFY(port.write("AT+XUPDATE\r\n"));
        const QList<SimPort::Burst> got = port.read_bursts(INT_MAX, 40, 400);
        QCOMPARE(SimPort::joined(got), reply);
        if (!got.isEmpty())
            QVERIFY2(got[0].start_ms >= min_ms, qPrintable(QString::number(got[0].start_ms)));
        if (receiving)
            QCOMPARE(send(port, xm::block(xm::image(100, 7), 1, true)), one(xm::ACK));
        else  // still taking commands: no transfer started
            QCOMPARE(port.ask("AT+LVER\r\n"), lver);
    }

    void request_repeats_up_to_its_limit()
    {
        ModuleSimProcess sim({"--first-request-ms", "60", "--request-interval-ms", "100", "--request-limit", "3"});
        QVERIFY(sim.start());
        SimPort port(sim.device_path());
        QVERIFY(port.write("AT+XUPDATE\r\n"));
        const QList<SimPort::Burst> bursts = port.read_bursts(40, 350, 2000);
        QCOMPARE(bursts.size(), 4);
        QCOMPARE(bursts[0].bytes, ok_ack);
        for (int i = 1; i < 4; ++i) {
            QCOMPARE(bursts[i].bytes, QByteArray("C"));
            const qint64 gap = bursts[i].start_ms - bursts[i - 1].start_ms;
            QVERIFY2(gap >= (i == 1 ? 50 : 90) && gap < 200, qPrintable(QString::number(gap)));
        }
        QCOMPARE(port.ask("AT+LVER\r\n"), lver);
    }

    // Whole images in each check mode and frame size, compared byte for byte
    // with what the module stores. Block 1 goes twice, as after a lost ACK:
    // acknowledged again, stored once.
    void receive_image_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<bool>("crc");
        QTest::addColumn<QByteArray>("image");
        QTest::addColumn<QVector<int>>("sizes");
        QTest::addColumn<QByteArray>("saved");
        const QByteArray a = xm::image(5000, 0x1234567u), b = xm::image(1200, 0xfeedu), c = xm::image(600, 0xabcdu);
        QTest::newRow("CRC, 1K frames") << QStringList() << QByteArray("AT+XUPDATE\r\n") << true << a
                                        << QVector<int>(5, 1024) << a + QByteArray(120, '\x1a');
        QTest::newRow("checksum, 1K and 128, padding stripped")
            << QStringList {"--checksum", "--strip-padding"} << QByteArray("AT+FOTA\r\n") << false << b
            << QVector<int> {1024, 128, 128} << b;
        QTest::newRow("CRC, SOH with 256") << QStringList {"--soh-size", "256"} << QByteArray("AT+XUPDATE\r\n") << true
                                           << c << QVector<int>(3, 256) << c + QByteArray(168, '\x1a');
    }

    void receive_image()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, command);
        QFETCH(bool, crc);
        QFETCH(QByteArray, image);
        QFETCH(QVector<int>, sizes);
        QFETCH(QByteArray, saved);
        QTemporaryDir dir;
        const QString file = dir.filePath("image.bin");
        ModuleSimProcess sim(args << "--save-image" << file);
        QVERIFY(sim.start());
        SimPort port(sim.device_path());
        const QString failure = begin_download(port, command, crc ? 'C' : xm::NAK);
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
        for (int i = 0, offset = 0; i < sizes.size(); offset += sizes[i++]) {
            const QByteArray frame = xm::frame(quint8(i + 1), image.mid(offset, sizes[i]), sizes[i], crc);
            QCOMPARE(send(port, frame), one(xm::ACK));
            if (i == 0)
                QCOMPARE(send(port, frame), one(xm::ACK));
        }
        QCOMPARE(send(port, one(xm::EOT)), one(xm::ACK));
        QVERIFY(sim.wait_for_log("image saved", 2000));
        QCOMPARE(file_text(file), saved);
        QCOMPARE(port.ask("AT+LVER\r\n"), lver);  // back to commands
    }

    void bad_frame_is_naked_data()
    {
        QTest::addColumn<bool>("crc");
        QTest::addColumn<QByteArray>("frame");
        const QByteArray image = xm::image(2148, 99), good = xm::block(image, 1, true);
        QByteArray data = good, complement = good, crc_low = good, sum = xm::block(image, 1, false);
        data[500] = char(data[500] ^ 0x10);
        complement[2] = 0;
        crc_low[1028] = char(crc_low[1028] ^ 0x01);
        sum[1027] = char(sum[1027] ^ 0x01);
        QTest::newRow("data bit flipped") << true << data;
        QTest::newRow("complement") << true << complement;
        QTest::newRow("CRC low byte") << true << crc_low;
        QTest::newRow("block 2 first") << true << xm::block(image, 2, true);
        QTest::newRow("checksum") << false << sum;
        QTest::newRow("CRC frame in checksum mode") << false << good.left(1028);
    }

    void bad_frame_is_naked()
    {
        QFETCH(bool, crc);
        QFETCH(QByteArray, frame);
        ModuleSimProcess sim(crc ? QStringList() : QStringList {"--checksum"});
        QVERIFY(sim.start());
        SimPort port(sim.device_path());
        const QString failure = begin_download(port, "AT+XUPDATE\r\n", crc ? 'C' : xm::NAK);
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
        QCOMPARE(send(port, frame), one(xm::NAK));
        QCOMPARE(send(port, xm::block(xm::image(2148, 99), 1, crc)), one(xm::ACK));
    }

    // After "AT+XUPDATE" and "C": what the module answers to each thing sent,
    // then whether it takes commands again or has vanished.
    void transfer_faults_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<Lines>("sends");
        QTest::addColumn<Lines>("replies");
        QTest::addColumn<bool>("vanishes");
        const QByteArray image = xm::image(3000, 8), b1 = xm::block(image, 1, true), b2 = xm::block(image, 2, true);
        const QByteArray b3 = xm::block(image, 3, true), eot = one(xm::EOT), ack = one(xm::ACK), nak = one(xm::NAK);
        QTest::newRow("NAK on the first two sends of block 2")
            << QStringList {"--nak-block", "2", "--nak-times", "2"} << Lines {b1, b2, b2, b2, b3, eot}
            << Lines {ack, nak, nak, ack, ack, ack} << false;
        QTest::newRow("silent from block 2 until three CAN")
            << QStringList {"--silent-block", "2"} << Lines {b1, b2, b2, eot, QByteArray(3, xm::CAN)}
            << Lines {ack, "", "", "", ""} << false;
        QTest::newRow("first EOT: NAK") << QStringList {"--eot-reply", "nak"} << Lines {b1, eot, eot}
                                        << Lines {ack, nak, ack} << false;
        QTest::newRow("first EOT: NUL and ACK") << QStringList {"--eot-reply", "nul"} << Lines {b1, eot, eot}
                                                << Lines {ack, QByteArray("\0\x06", 2), ack} << false;
        QTest::newRow("first EOT: none") << QStringList {"--eot-reply", "none"} << Lines {b1, eot, eot}
                                         << Lines {ack, "", ack} << false;
        QTest::newRow("command instead of a frame") << QStringList() << Lines {"AT+LVER\r\n"} << Lines {lver} << false;
        QTest::newRow("command after a block") << QStringList() << Lines {b1, "AT+DEVSN\r\n"} << Lines {ack, devsn}
                                               << false;
        QTest::newRow("unplug at block 2") << QStringList {"--unplug-block", "2"} << Lines {b1, b2} << Lines {ack, ""}
                                           << true;
    }

    void transfer_faults()
    {
        QFETCH(QStringList, args);
        QFETCH(Lines, sends);
        QFETCH(Lines, replies);
        QFETCH(bool, vanishes);
        ModuleSimProcess sim(args);
        QVERIFY(sim.start());
        SimPort port(sim.device_path());
        const QString failure = begin_download(port);
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
        for (int i = 0; i < sends.size(); ++i)
            QVERIFY2(send(port, sends[i], replies[i].isEmpty()) == replies[i],
                     qPrintable(QStringLiteral("send %1").arg(i + 1)));
        if (vanishes) {
            QVERIFY(port.wait_vanished(2000));
            QVERIFY(sim.wait_for_exit(3000));
            QCOMPARE(sim.exit_code(), 0);
        } else {
            QCOMPARE(port.ask("AT+LVER\r\n"), lver);
        }
    }

    void cancel_after_a_block_data()
    {
        QTest::addColumn<QString>("gap");
        QTest::addColumn<int>("bursts");
        QTest::newRow("one CAN at a time") << "60" << 2;
        QTest::newRow("both in one burst") << "0" << 1;
    }

    void cancel_after_a_block()
    {
        QFETCH(QString, gap);
        QFETCH(int, bursts);
        ModuleSimProcess sim({"--cancel-block", "2", "--cancel-gap-ms", gap});
        QVERIFY(sim.start());
        SimPort port(sim.device_path());
        const QString failure = begin_download(port);
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
        const QByteArray image = xm::image(3000, 31337);
        QCOMPARE(send(port, xm::block(image, 1, true)), one(xm::ACK));
        QVERIFY(port.write(xm::block(image, 2, true)));
        const QList<SimPort::Burst> got = port.read_bursts(25, 200, 1000);
        QCOMPARE(SimPort::joined(got), QByteArray(2, xm::CAN));
        QCOMPARE(got.size(), bursts);
        if (bursts == 2) {
            const qint64 pause = got[1].start_ms - got[0].end_ms;
            QVERIFY2(pause >= 50 && pause < 200, qPrintable(QString::number(pause)));
        }
        // The sender confirms as the tool does; the module takes commands again.
        QVERIFY(port.write(one(xm::ACK)));
        QCOMPARE(port.ask("AT+LVER\r\n"), lver);
    }

    void link_points_at_the_pty_until_exit()
    {
        QTemporaryDir dir;
        const QString link = dir.filePath("ttyKV20");
        ModuleSimProcess sim({"--link", link});
        QVERIFY(sim.start());
        QCOMPARE(link_text(link), sim.device_path().toLocal8Bit());
        QCOMPARE(SimPort(link).ask("AT+DEVSN\r\n"), devsn);
        sim.stop();
        QVERIFY(!QFileInfo(link).isSymLink());
    }

    // The files and links port discovery reads.
    void device_tree_layout_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("vendor");
        QTest::addColumn<QByteArray>("product_id");
        QTest::addColumn<QString>("interface");
        QTest::addColumn<QByteArray>("interface_number");
        QTest::addColumn<bool>("has_product");
        QTest::newRow("module") << QStringList() << QByteArray("3505\n") << QByteArray("0001\n") << "1-1:1.2"
                                << QByteArray("02\n") << true;
        QTest::newRow("alt") << QStringList {"--identity", "alt"} << QByteArray("19d1\n") << QByteArray("0001\n")
                             << "1-1:1.6" << QByteArray("06\n") << true;
        QTest::newRow("other") << QStringList {"--identity", "other"} << QByteArray("1a86\n") << QByteArray("7523\n")
                               << "1-1:1.0" << QByteArray("00\n") << true;
        QTest::newRow("no product") << QStringList {"--no-product"} << QByteArray("3505\n") << QByteArray("0001\n")
                                    << "1-1:1.2" << QByteArray("02\n") << false;
    }

    void device_tree_layout()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, vendor);
        QFETCH(QByteArray, product_id);
        QFETCH(QString, interface);
        QFETCH(QByteArray, interface_number);
        QFETCH(bool, has_product);
        QTemporaryDir dir;
        ModuleSimProcess sim(QStringList {"--device-tree", dir.path()} + args);
        QVERIFY(sim.start());
        const int n = sim.device_path().mid(QStringLiteral("/dev/pts/").size()).toInt();
        const QString tty = QStringLiteral("kv20sim%1").arg(n);
        const QString usb = dir.path() + "/devices/kv20sim/usb1/1-1", iface = usb + '/' + interface;
        const QString tty_dir = iface + "/tty/" + tty, class_link = dir.path() + "/class/tty/" + tty;

        QCOMPARE(file_text(usb + "/idVendor"), vendor);
        QCOMPARE(file_text(usb + "/idProduct"), product_id);
        QCOMPARE(file_text(usb + "/product"), has_product ? QByteArray("KV20 Simulated Module\n") : "<missing>");
        QCOMPARE(file_text(iface + "/bInterfaceNumber"), interface_number);
        QCOMPARE(file_text(tty_dir + "/uevent"),
                 QStringLiteral("MAJOR=136\nMINOR=%1\nDEVNAME=pts/%1\n").arg(n).toLatin1());
        QCOMPARE(link_text(tty_dir + "/device"), QByteArray("../.."));
        QCOMPARE(QFileInfo(tty_dir + "/device").canonicalFilePath(), QFileInfo(iface).canonicalFilePath());
        QCOMPARE(link_text(class_link), ("../../devices/kv20sim/usb1/1-1/" + interface + "/tty/" + tty).toLatin1());
        QCOMPARE(QFileInfo(class_link).canonicalFilePath(), QFileInfo(tty_dir).canonicalFilePath());

        // Nothing else, no temporary names; all gone after exit.
        const auto all = QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System;
        QCOMPARE(QDir(dir.path() + "/devices").entryList(all), QStringList {"kv20sim"});
        QCOMPARE(QDir(dir.path() + "/class/tty").entryList(all), QStringList {tty});
        sim.stop();
        QCOMPARE(QDir(dir.path()).entryList(all), QStringList());
    }

    // A benchmark relies on the paced line running at the wire's rate.
    void pacing_limits_both_directions()
    {
        const QString mac(10240, 'M');
        const QByteArray reply = "+ok=" + mac.toLatin1() + "\r\n";
        for (const bool paced : {false, true}) {
            ModuleSimProcess sim(QStringList {"--variant", "wifi", "--mac", mac}
                                 + (paced ? QStringList {"--pace"} : QStringList()));
            QVERIFY(sim.start());
            SimPort port(sim.device_path());
            QElapsedTimer timer;
            timer.start();
            QVERIFY(port.write("AT+WSMAC\r\n"));
            QCOMPARE(port.read_exact(reply.size(), 3000), reply);
            // 115200 baud, 10 bits a byte: 10 KiB take about 0.89 s; unpaced, milliseconds.
            const qint64 ms = timer.elapsed();
            QVERIFY2(paced ? ms >= 800 && ms <= 1500 : ms < 400, qPrintable(QString::number(ms)));
            if (!paced)
                continue;
            // Incoming: ten 1029-byte frames are taken in no faster than the wire.
            const QString failure = begin_download(port);
            QVERIFY2(failure.isEmpty(), qPrintable(failure));
            const QByteArray image = xm::image(10 * 1024, 10);
            timer.restart();
            for (int b = 1; b <= 10; ++b) {
                QVERIFY(port.write(xm::block(image, b, true)));
                QCOMPARE(port.read_exact(1, 1500), one(xm::ACK));
            }
            QVERIFY2(timer.elapsed() >= 800 && timer.elapsed() <= 1500, qPrintable(QString::number(timer.elapsed())));
        }
    }
};

QTEST_GUILESS_MAIN(TestModuleSim)
#include "tst_module_sim.moc"
