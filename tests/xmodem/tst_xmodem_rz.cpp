#include "tests/xmodem/pty_peer.h"
#include "tests/xmodem/trace_log.h"
#include "tests/xmodem/xmodem_harness.h"
#include "xmodem/xmodem_transmitter.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

// lrzsz's receiver is an independent XMODEM implementation: what it writes
// to disk is what a receiver makes of our frames.
class TestXmodemRz : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { trace_log::install(); }
    void cleanupTestCase() { trace_log::uninstall(); }
    void init() { trace_log::clear(); }
    void cleanup()
    {
        if (QTest::currentTestFailed())
            trace_log::dump_tail(40);
    }

    void transfer_to_rz_data()
    {
        QTest::addColumn<bool>("crc");
        QTest::addColumn<int>("size");
        QTest::newRow("crc") << true << 300 * 1024 + 123;
        QTest::newRow("checksum") << false << 100 * 1024 + 45;
    }

    void transfer_to_rz()
    {
        QFETCH(bool, crc);
        QFETCH(int, size);
        const QString rz = PtyProcess::find(QStringLiteral("rz"));
        if (rz.isEmpty())
            QSKIP("lrzsz's rz is not installed");
        QTemporaryDir dir;
        QVERIFY(dir.isValid());

        QRandomGenerator gen {quint32(size)};
        QByteArray image(size, '\0');
        for (char &c : image)
            c = static_cast<char>(gen.bounded(256));

        TransmitterRun run(image);
        PtyProcess receiver;
        // 2 ms of turn-around keep our next frame clear of the input flush
        // that rz makes right after each ACK (see PtyRelay).
        PtyRelay relay({{run.pty.master(), receiver.input_fd()}, {receiver.output_fd(), run.pty.master()}}, 2);
        QVERIFY(run.start());
        QStringList args {QStringLiteral("--xmodem"), QStringLiteral("-q")};
        if (crc)
            args << QStringLiteral("-c");
        args << QStringLiteral("received.bin");
        QVERIFY(receiver.start(rz, args, dir.path()));

        QVERIFY2(run.finish(120000), qPrintable(receiver.stderr_text()));
        QVERIFY2(run.result() == xmodem::ok,
                 qPrintable(QStringLiteral("result %1; rz: %2").arg(run.result()).arg(receiver.stderr_text())));
        QVERIFY(receiver.wait_finished(15000));
        QVERIFY2(receiver.exit_code() == 0, qPrintable(receiver.stderr_text()));
        relay.stop();

        QFile file(dir.filePath(QStringLiteral("received.bin")));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray received = file.readAll();
        const int blocks = size / 1024 + 1;
        QCOMPARE(received.size(), blocks * 1024);
        QVERIFY2(received.left(size) == image, "received data differs from the image");
        QCOMPARE(received.mid(size), QByteArray(blocks * 1024 - size, xmodem::PAD));

        const QVector<int> progress = run.reports.progress();
        QCOMPARE(progress.size(), blocks);
        QCOMPARE(progress.last(), blocks * 1024);
        QCOMPARE(trace_log::count(QStringLiteral(R"(xmodem recv init = "C")")), crc ? 1 : 0);
    }
};

QTEST_GUILESS_MAIN(TestXmodemRz)
#include "tst_xmodem_rz.moc"
