#include "tests/xmodem/xmodem_frames.h"
#include "tests/xmodem/xmodem_harness.h"
#include "xmodem/xmodem_transmitter.h"

#include <QtTest>

#include <cstdio>
#include <mutex>

using xm::ACK;
using xm::CAN;
using xm::EOT;
using xm::NAK;
using Replies = QVector<QByteArray>;

namespace {

std::mutex trace_mutex;
QStringList traces;  // the program's debug output, which carries the trace lines

void keep_trace(QtMsgType type, const QMessageLogContext &, const QString &line)
{
    if (type != QtDebugMsg)  // never expected: keep it visible
        std::fprintf(stderr, "%s\n", qPrintable(line));
    std::lock_guard<std::mutex> lock(trace_mutex);
    traces.append(line);
}

QByteArray one(char c) { return QByteArray(1, c); }

// Frames of blocks first..last of image.
QByteArray frames(const QByteArray &image, int first, int last, bool crc = true, int size = 1024)
{
    QByteArray out;
    for (int i = first; i <= last; ++i)
        out += xm::block(image, i, crc, size);
    return out;
}

QString repeated(const char *op, int times) { return QString(QStringLiteral(" ") + op).repeated(times).mid(1); }

QList<int> steps(int count, int size = 1024)
{
    QList<int> out;
    for (int i = 1; i <= count; ++i)
        out << i * size;
    return out;
}

} // namespace

class TestXmodem : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qInstallMessageHandler(keep_trace); }
    void init()
    {
        std::lock_guard<std::mutex> lock(trace_mutex);
        traces.clear();
    }

    // One table for every conversation: the receiver answers each wait of
    // the transmitter with the next reply ("" lets the wait time out). The
    // bytes on the wire are compared with frames built apart from the
    // transmitter, the waits with their time-outs ("r1000" a reply byte at
    // sync, "r500" after a frame, "w10000" after EOT, "d" a discard).
    void conversation_data()
    {
        QTest::addColumn<QByteArray>("image");
        QTest::addColumn<qint32>("length");
        QTest::addColumn<int>("synced");
        QTest::addColumn<int>("block_mode");
        QTest::addColumn<Replies>("replies");
        QTest::addColumn<QByteArray>("wire");
        QTest::addColumn<int>("result");
        QTest::addColumn<QList<int>>("progress");
        QTest::addColumn<QString>("ops");
        QTest::addColumn<int>("min_ms");  // shortest run time, for the timed rows

        const QByteArray a = xm::image(2048, 1), b = xm::image(1500, 2), c = xm::image(700, 3);
        const QByteArray d = xm::image(600, 4), one_byte("\x80"), wrap = xm::image(256 * 1024 + 100, 5);
        const QByteArray eot = one(EOT), cans = QByteArray(3, CAN);

        QTest::newRow("2048 bytes: pad block after the data")
            << a << 2048 << 0 << 0 << Replies {"C", one(ACK), one(ACK), one(ACK), one(ACK)}
            << frames(a, 1, 3) + eot << 0 << steps(3) << "r1000 r500 r500 r500 w10000" << 0;
        QTest::newRow("empty image: one pad block")
            << QByteArray() << 0 << 0 << 0 << Replies {"C", one(ACK), one(ACK)}
            << xm::frame(1, {}, 1024, true) + eot << 0 << steps(1) << "r1000 r500 w10000" << 0;
        QTest::newRow("1 byte")
            << one_byte << 1 << 0 << 0 << Replies {"C", one(ACK), one(ACK)}
            << frames(one_byte, 1, 1) + eot << 0 << steps(1) << "r1000 r500 w10000" << 0;
        QTest::newRow("NAK at sync: checksum frames")
            << b << 1500 << 0 << 0 << Replies {one(NAK), one(ACK), one(ACK), one(ACK)}
            << frames(b, 1, 2, false) + eot << 0 << steps(2) << "r1000 r500 r500 w10000" << 0;
        QTest::newRow("synced: first frame without a read")
            << c << 700 << 1 << 0 << Replies {one(ACK), one(ACK)}
            << frames(c, 1, 1) + eot << 0 << steps(1) << "r500 w10000" << 0;
        QTest::newRow("block numbers wrap: 256th is 0, 257th is 1")
            << wrap << wrap.size() << 1 << 0 << Replies(258, one(ACK))
            << frames(wrap, 1, 257) + eot << 0 << steps(257) << repeated("r500", 257) + " w10000" << 0;
        QTest::newRow("block mode 1: SOH and 256 bytes")
            << d << 600 << 0 << 1 << Replies {"C", one(ACK), one(ACK), one(ACK), one(ACK)}
            << frames(d, 1, 3, true, 256) + eot << 0 << steps(3, 256) << "r1000 r500 r500 r500 w10000" << 0;
        QTest::newRow("ACK with more bytes in its burst counts once")
            << b << 1500 << 1 << 0 << Replies {QByteArray("\x06\x15\x18\x18xy"), one(ACK), one(ACK)}
            << frames(b, 1, 2) + eot << 0 << steps(2) << "r500 r500 w10000" << 0;
        QTest::newRow("negative length: only EOT")
            << QByteArray("abc") << -5 << 1 << 0 << Replies {one(ACK)}
            << eot << 0 << QList<int>() << "w10000" << 0;

        QTest::newRow("CAN pair at sync cancels")
            << b << 1500 << 0 << 0 << Replies {one(CAN), one(CAN)}
            << one(ACK) << -1 << QList<int>() << "r1000 r1000 d" << 0;
        QTest::newRow("CAN and another byte at sync use up a try")
            << c << 700 << 0 << 0 << Replies {one(CAN), "x", "C", one(ACK), one(ACK)}
            << frames(c, 1, 1) + eot << 0 << steps(1) << "r1000 r1000 r1000 r500 w10000" << 0;
        QTest::newRow("CAN pair in one burst at sync is a lone CAN")
            << c << 700 << 0 << 0 << Replies {QByteArray(2, CAN), "C", "C", one(ACK), one(ACK)}
            << frames(c, 1, 1) + eot << 0 << steps(1) << "r1000 r1000 r1000 r500 w10000" << 0;
        QTest::newRow("CAN pair after a block cancels")
            << a << 2048 << 0 << 0 << Replies {"C", one(ACK), one(CAN), one(CAN)}
            << frames(a, 1, 2) + one(ACK) << -1 << steps(1) << "r1000 r500 r500 r1000" << 0;
        QTest::newRow("CAN pair in one burst after a block is a failed send")
            << c << 700 << 1 << 0 << Replies {QByteArray(2, CAN), "Z", one(ACK), one(ACK)}
            << frames(c, 1, 1) + frames(c, 1, 1) + eot << 0 << steps(1) << "r500 r1000 r500 w10000" << 0;
        QTest::newRow("silence after a frame: resent after 500 ms")
            << c << 700 << 1 << 0 << Replies {"", one(ACK), one(ACK)}
            << frames(c, 1, 1) + frames(c, 1, 1) + eot << 0 << steps(1) << "r500 r500 w10000" << 495;
        QTest::newRow("four NAKs then ACK: five sends, next block")
            << b << 1500 << 0 << 0 << (Replies {"C"} + Replies(4, one(NAK)) + Replies(3, one(ACK)))
            << frames(b, 1, 1).repeated(5) + frames(b, 2, 2) + eot << 0 << steps(2)
            << "r1000 " + repeated("r500", 6) + " w10000" << 0;
        QTest::newRow("five NAKs: three CAN, -4")
            << b << 1500 << 0 << 0 << (Replies {"C"} + Replies(5, one(NAK)))
            << frames(b, 1, 1).repeated(5) + cans << -4 << QList<int>() << "r1000 " + repeated("r500", 5) << 0;

        QTest::newRow("EOT answered by NAK completes")
            << c << 700 << 1 << 0 << Replies {one(ACK), one(NAK)}
            << frames(c, 1, 1) + eot << 0 << steps(1) << "r500 w10000" << 0;
        QTest::newRow("EOT answer starting with NUL: EOT again")
            << c << 700 << 1 << 0 << Replies {one(ACK), QByteArray("\0\x06", 2), "done"}
            << frames(c, 1, 1) + eot + eot << 0 << steps(1) << "r500 w10000 w10000" << 0;
        QTest::newRow("ten NUL answers to EOT: -1, no eleventh EOT")
            << c << 700 << 1 << 0 << (Replies {one(ACK)} + Replies(10, QByteArray(1, '\0')))
            << frames(c, 1, 1) + eot.repeated(10) << -1 << steps(1) << "r500 " + repeated("w10000", 10) << 0;

        Replies others;
        for (int i = 0; i < 16; ++i)  // a byte above 0x7F reads as no byte
            others << (i == 5 ? QByteArray("\xc3") : one(char('a' + i)));
        QTest::newRow("other bytes at sync: no sync")
            << c << 700 << 0 << 0 << others << cans << -2 << QList<int>() << repeated("r1000", 16) + " d" << 0;
        QTest::newRow("silence at sync: no sync after 16 s")
            << c << 700 << 0 << 0 << Replies() << cans << -2 << QList<int>() << repeated("r1000", 16) + " d" << 15900;
        QTest::newRow("silence after EOT: -1 after 10 s")
            << QByteArray() << 0 << 1 << 0 << Replies {one(ACK)}
            << xm::frame(1, {}, 1024, true) + eot << -1 << steps(1) << "r500 w10000" << 9950;
    }

    void conversation()
    {
        QFETCH(QByteArray, image);
        QFETCH(qint32, length);
        QFETCH(int, synced);
        QFETCH(int, block_mode);
        QFETCH(Replies, replies);
        QFETCH(QByteArray, wire);
        QFETCH(int, result);
        QFETCH(QList<int>, progress);
        QFETCH(QString, ops);
        QFETCH(int, min_ms);

        TransmitterRun run(image, length, quint8(synced), quint8(block_mode));
        QVERIFY(run.start());
        QByteArray sent;
        for (int i = 0; i < replies.size(); ++i) {
            QVERIFY2(run.wait_for_listen(i + 1, 15000),
                     qPrintable(QStringLiteral("no wait %1 after: ").arg(i + 1) + run.ops()));
            sent += run.pty.read_for(0, 1);  // keeps the pty from filling up
            run.pty.write(replies[i]);
        }
        QVERIFY(run.finish(min_ms + 15000));
        sent += run.pty.read_for(20, 50);

        QCOMPARE(run.result(), result);
        QCOMPARE(run.ops(), ops);
        int at = 0;
        while (at < sent.size() && at < wire.size() && sent.at(at) == wire.at(at))
            ++at;
        QVERIFY2(sent == wire, qPrintable(QStringLiteral("wire differs at byte %1 of %2: %3, expected %4").arg(at)
                                              .arg(sent.size()).arg(QString(sent.mid(at, 8).toHex()))
                                              .arg(QString(wire.mid(at, 8).toHex()))));

        QStringList reports {QStringLiteral("debug:Send Image File length = %1").arg(length),
                             QStringLiteral("debug:wait for sync signal...")};
        for (int p : progress)
            reports << QStringLiteral("progress:%1").arg(p);
        if (result == xmodem::no_sync)
            reports << QStringLiteral("debug:xmodem no sync detected, fail");
        QCOMPARE(run.reports.events, reports);

        QVERIFY2(run.elapsed_ms() >= min_ms && run.elapsed_ms() < min_ms + 5000,
                 qPrintable(QStringLiteral("%1 ms").arg(run.elapsed_ms())));
        // The one trace line a maintainer looks for: the last wait, after
        // EOT, went unanswered.
        const bool eot_silent = ops.endsWith(QLatin1String("w10000"))
            && replies.size() < ops.count(QLatin1Char('r')) + ops.count(QLatin1Char('w'));
        std::lock_guard<std::mutex> lock(trace_mutex);
        QCOMPARE(traces.count(QStringLiteral("Err1")), eot_silent ? 1 : 0);
    }
};

QTEST_GUILESS_MAIN(TestXmodem)
#include "tst_xmodem.moc"
