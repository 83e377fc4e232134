#include "tests/xmodem/pty_peer.h"
#include "tests/xmodem/xmodem_frames.h"
#include "tests/xmodem/xmodem_harness.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>

// lrzsz's rz is an XMODEM receiver written by others: what it writes to disk
// is what a receiver makes of our frames.
class TestXmodemRz : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // Only the trace lines (debug output) of every block are kept quiet.
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &line) {
            if (type != QtDebugMsg)
                std::fprintf(stderr, "%s\n", qPrintable(line));
        });
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
        const QByteArray image = xm::image(size, quint32(size));

        TransmitterRun run(image, size);
        PtyProcess receiver;
        // 2 ms of turn-around keep our next frame clear of rz's input flush.
        PtyRelay relay({{run.pty.master(), receiver.input_fd()}, {receiver.output_fd(), run.pty.master()}}, 2);
        QVERIFY(run.start());
        QStringList args {QStringLiteral("--xmodem"), QStringLiteral("-q")};
        if (crc)
            args << QStringLiteral("-c");
        QVERIFY(receiver.start(rz, args << QStringLiteral("received.bin"), dir.path()));

        QVERIFY2(run.finish(120000) && run.result() == 0,
                 qPrintable(QStringLiteral("result %1; rz: %2").arg(run.result()).arg(receiver.stderr_text())));
        QVERIFY(receiver.wait_finished(15000));
        QVERIFY2(receiver.exit_code() == 0, qPrintable(receiver.stderr_text()));
        relay.stop();

        QFile file(dir.filePath(QStringLiteral("received.bin")));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const int blocks = size / 1024 + 1;  // the last one padded
        QCOMPARE(file.readAll(), image + QByteArray(blocks * 1024 - size, '\x1a'));
        QCOMPARE(run.reports.progress.size(), blocks);
    }
};

QTEST_GUILESS_MAIN(TestXmodemRz)
#include "tst_xmodem_rz.moc"
