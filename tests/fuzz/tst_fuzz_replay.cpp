// Every seed of the fuzz corpus through its target in the ordinary builds:
// no crash, no sanitizer report, no broken invariant.
#include "fuzz/fuzz_targets.h"

#include <QDir>
#include <QtTest>

class TestFuzzReplay : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { fuzz_silence_qt_messages(); }

    void replay_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("path");
        for (const char *target : {"reply_text", "device_query", "download_ack", "xmodem"}) {
            const QDir dir(QStringLiteral(KV20_FUZZ_DIR "/corpus/") + target);
            // A wrong corpus path would leave the replay with nothing to do.
            QVERIFY2(!dir.entryList(QDir::Files).isEmpty(), target);
            for (const QString &file : dir.entryList(QDir::Files))
                QTest::addRow("%s/%s", target, qPrintable(file)) << target << dir.filePath(file);
        }
    }

    void replay()
    {
        QFETCH(QString, target);
        QFETCH(QString, path);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray input = file.readAll();
        const QMap<QString, QString (*)(const std::uint8_t *, std::size_t)> targets {{"reply_text", fuzz_reply_text},
            {"device_query", fuzz_device_query}, {"download_ack", fuzz_download_ack}, {"xmodem", fuzz_xmodem}};
        const QString finding = targets[target](reinterpret_cast<const std::uint8_t *>(input.constData()), input.size());
        QVERIFY2(finding.isEmpty(), qPrintable(finding));
    }
};

QTEST_GUILESS_MAIN(TestFuzzReplay)
#include "tst_fuzz_replay.moc"
