// The XMODEM transmitter on a real pty: against a receiver played by the test,
// every byte on the wire compared with frames built apart from it, and
// against lrzsz's rz, whose file on disk is what a foreign receiver made of
// our frames.
#include "tests/support/pty_pair.h"
#include "tests/xmodem/xmodem_frames.h"
#include "worker/serial_link.h"
#include "xmodem/xmodem_transmitter.h"

#include <QProcess>
#include <QtTest>

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>

using Replies = QVector<QByteArray>;

namespace {

QByteArray frames(const QByteArray &image, int first, int last, bool crc = true, int size = 1024)
{
    QByteArray out;
    for (int i = first; i <= last; ++i)
        out += xm::block(image, i, crc, size);
    return out;
}

// "r500*3 w10000" -> "r500 r500 r500 w10000"
QString expand(const QString &ops)
{
    QStringList out;
    for (const QString &op : ops.split(QLatin1Char(' '))) {
        const QStringList part = op.split(QLatin1Char('*'));
        for (int i = 0; i < (part.size() > 1 ? part[1].toInt() : 1); ++i)
            out << part[0];
    }
    return out.join(QLatin1Char(' '));
}

// xmodem_transmit in a thread of its own on this link, which notes each wait
// ("r<ms>" for a reply byte, "w<ms>" after EOT) and each discard ("d") as it
// begins: a reply written once a wait is noted arrives while it listens.
class Transfer : public SerialLink, public WorkerReports
{
public:
    Transfer(const QString &port, const QByteArray &image, quint8 synced, quint8 mode)
        : block_mode(mode), thread(QThread::create([=] {
              QElapsedTimer timer;
              timer.start();
              if (open(port))
                  result = xmodem_transmit(*this, *this, image.constData(), image.size(), synced, block_mode);
              release();  // the port dies in the thread that used it
              update([&] { ms = timer.elapsed(); done = true; });
          }))
    {
        thread->start();
    }
    // After a failed check the transmitter may still wait on a silent line.
    ~Transfer() override
    {
        request_stop();
        thread->wait();
    }

    template <class Condition> bool wait_until(Condition condition, int timeout_ms)
    {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::milliseconds(timeout_ms), condition);
    }
    // Once it returns true, the fields below stay as they are.
    bool finish(int timeout_ms) { return wait_until([this] { return done; }, timeout_ms); }

    int result = 1, listens = 0;
    qint64 ms = 0;
    QList<int> progress;
    QStringList ops;

    void discard_input() override { note(QStringLiteral("d"), 0); SerialLink::discard_input(); }
    bool wait_for_data(unsigned long t) override { note(QStringLiteral("w%1").arg(t), 1); return SerialLink::wait_for_data(t); }
    qint8 read_byte(quint16 t) override { note(QStringLiteral("r%1").arg(t), 1); return SerialLink::read_byte(t); }
    void report_progress(int bytes_sent) override { progress << bytes_sent; }
    void report_progress_max(int) override {}
    void report_debug(const QString &) override {}
    void report_status(const QString &, bool) override {}
    void report_mac_text(const QString &, quint8) override {}

private:
    template <class Change> void update(Change change)
    {
        std::lock_guard<std::mutex> lock(mutex);
        change();
        changed.notify_all();
    }
    void note(const QString &op, int listening) { update([&] { ops << op; listens += listening; }); }

    std::atomic<quint8> block_mode;
    bool done = false;
    std::mutex mutex;
    std::condition_variable changed;
    std::unique_ptr<QThread> thread;
};

} // namespace

class TestXmodem : public QObject
{
    Q_OBJECT

private slots:
    // The receiver answers each wait of the transmitter with the next reply
    // ("" lets the wait time out). The two long time-outs come last.
    void conversation_data()
    {
        QTest::addColumn<QByteArray>("image");
        QTest::addColumn<int>("synced");
        QTest::addColumn<int>("mode");
        QTest::addColumn<Replies>("replies");
        QTest::addColumn<QByteArray>("wire");
        QTest::addColumn<int>("result");
        QTest::addColumn<int>("blocks");  // progress reports, one per acknowledged block
        QTest::addColumn<QString>("ops");
        QTest::addColumn<int>("min_ms");

        // The reference CRC itself, against the published check value.
        QCOMPARE(xm::crc16_bitwise("123456789"), quint16(0x31C3));
        const QByteArray a = xm::image(2048, 1), b = xm::image(1500, 2), c = xm::image(700, 3);
        const QByteArray wrap = xm::image(257 * 256 + 100, 4);
        const QByteArray ack(1, xm::ACK), nak(1, xm::NAK), can(1, xm::CAN), eot(1, xm::EOT);
        const QByteArray cans = can.repeated(3), c1 = frames(c, 1, 1), b1 = frames(b, 1, 1);
        Replies others;
        for (int i = 0; i < 16; ++i)  // a byte above 0x7F reads as no byte
            others << QByteArray(1, i == 5 ? '\xc3' : char('a' + i));

        QTest::newRow("C: CRC frames, all-pad block after 2048 bytes")
            << a << 0 << 0 << Replies {"C", ack, ack, ack, ack} << frames(a, 1, 3) + eot << 0 << 3
            << "r1000 r500*3 w10000" << 0;
        QTest::newRow("NAK: checksum frames, the last one padded")
            << b << 0 << 0 << Replies {nak, ack, ack, ack} << frames(b, 1, 2, false) + eot << 0 << 2
            << "r1000 r500*2 w10000" << 0;
        QTest::newRow("synced, mode 1: SOH with 256 bytes, numbers wrap")
            << wrap << 1 << 1 << Replies(259, ack) << frames(wrap, 1, 258, true, 256) + eot << 0 << 258
            << "r500*258 w10000" << 0;
        QTest::newRow("lone CAN at sync, a pair in one read too, uses a try")
            << c << 0 << 0 << Replies {can + can, "x", "C", ack, ack} << c1 + eot << 0 << 1
            << "r1000*3 r500 w10000" << 0;
        QTest::newRow("CAN pair at sync cancels")
            << c << 0 << 0 << Replies {can, can} << ack << -1 << 0 << "r1000 r1000 d" << 0;
        QTest::newRow("CAN pair after a block cancels")
            << a << 0 << 0 << Replies {"C", ack, can, can} << frames(a, 1, 2) + ack << -1 << 1
            << "r1000 r500 r500 r1000" << 0;
        QTest::newRow("lone CAN after a block: the block again")
            << c << 1 << 0 << Replies {can + can, "Z", ack, ack} << c1 + c1 + eot << 0 << 1
            << "r500 r1000 r500 w10000" << 0;
        QTest::newRow("NAK or silence four times, then ACK: five sends")
            << b << 1 << 0 << Replies {nak, "", nak, nak, ack, ack, ack} << b1.repeated(5) + frames(b, 2, 2) + eot
            << 0 << 2 << "r500*6 w10000" << 0;
        QTest::newRow("five NAKs: three CANs")
            << b << 1 << 0 << Replies(5, nak) << b1.repeated(5) + cans << -4 << 0 << "r500*5" << 0;
        QTest::newRow("EOT answered with NUL, then NAK: EOT twice")
            << c << 1 << 0 << Replies {ack, QByteArray("\0\x06", 2), nak} << c1 + eot + eot << 0 << 1
            << "r500 w10000*2" << 0;
        QTest::newRow("EOT answered empty ten times")
            << c << 1 << 0 << Replies {ack} + Replies(10, QByteArray(1, '\0')) << c1 + eot.repeated(10) << -1 << 1
            << "r500 w10000*10" << 0;
        QTest::newRow("sixteen other bytes at sync")
            << c << 0 << 0 << others << cans << -2 << 0 << "r1000*16 d" << 0;
        QTest::newRow("silence at sync: 16 s")
            << c << 0 << 0 << Replies() << cans << -2 << 0 << "r1000*16 d" << 15900;
        QTest::newRow("silence after EOT: 10 s")
            << c << 1 << 0 << Replies {ack} << c1 + eot << -1 << 1 << "r500 w10000" << 9950;
    }

    void conversation()
    {
        QFETCH(QByteArray, image);
        QFETCH(int, synced);
        QFETCH(int, mode);
        QFETCH(Replies, replies);
        QFETCH(QByteArray, wire);
        QFETCH(int, result);
        QFETCH(int, blocks);
        QFETCH(QString, ops);
        QFETCH(int, min_ms);

        PtyPair pty;
        Transfer t(pty.slave_path(), image, quint8(synced), quint8(mode));
        QByteArray sent;
        for (int i = 0; i < replies.size(); ++i) {
            QVERIFY2(t.wait_until([&] { return t.listens > i; }, 15000), qPrintable(QString::number(i)));
            sent += pty.read_for(0, 1);  // keeps the pty from filling up
            pty.write(replies[i]);
        }
        QVERIFY(t.finish(min_ms + 20000));
        sent += pty.read_for(20, 50);

        QCOMPARE(t.result, result);
        QCOMPARE(t.ops.join(QLatin1Char(' ')), expand(ops));
        const auto at = std::mismatch(wire.begin(), wire.end(), sent.begin(), sent.end()).first - wire.begin();
        QVERIFY2(sent == wire, qPrintable(QStringLiteral("byte %1 of %2 differs").arg(at).arg(sent.size())));
        QList<int> progress;
        for (int i = 1; i <= blocks; ++i)
            progress << i * (mode == 1 ? 256 : 1024);
        QCOMPARE(t.progress, progress);
        QVERIFY2(t.ms >= min_ms, qPrintable(QString::number(t.ms)));
    }

    // rz's stdin and stdout are a socket that socat joins to a pty: rz's
    // input flush behind every ACK then cannot eat our next frame.
    void transfer_to_rz_data()
    {
        QTest::addColumn<QString>("option");
        QTest::addColumn<int>("size");
        QTest::newRow("CRC") << " -c" << 300 * 1024 + 123;
        QTest::newRow("checksum") << "" << 100 * 1024 + 45;
    }

    void transfer_to_rz()
    {
        QFETCH(QString, option);
        QFETCH(int, size);
        if (QStandardPaths::findExecutable("rz").isEmpty() || QStandardPaths::findExecutable("socat").isEmpty())
            QSKIP("needs lrzsz's rz and socat");
        QTemporaryDir dir;
        const QString port = dir.filePath(QStringLiteral("port"));
        QProcess socat;
        socat.setWorkingDirectory(dir.path());
        socat.start(QStringLiteral("socat"), {"PTY,raw,echo=0,wait-slave,link=" + port,
                                              "EXEC:rz --xmodem -q" + option + " received.bin"});
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(port), 5000);

        const QByteArray image = xm::image(size, quint32(size));
        Transfer t(port, image, 0, 0);
        QVERIFY(t.finish(120000));
        QCOMPARE(t.result, 0);
        QVERIFY(socat.waitForFinished(15000));
        QCOMPARE(socat.exitCode(), 0);
        QFile file(dir.filePath(QStringLiteral("received.bin")));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const int blocks = size / 1024 + 1;
        QCOMPARE(file.readAll(), image + QByteArray(blocks * 1024 - size, '\x1a'));
        QCOMPARE(t.progress.size(), blocks);
    }
};

QTEST_GUILESS_MAIN(TestXmodem)
#include "tst_xmodem.moc"
