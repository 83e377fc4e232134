// The tool as an operator uses it: kv20-tool on a private X server (Xvfb)
// with a simulated module, driven with real clicks and keys (xdotool), judged
// by what the module received, the journal and screenshots, which stay in the
// build's screenshots folder.
#include "tests/discovery/fake_sysfs.h"
#include "tests/support/csv_reader.h"
#include "tests/support/module_sim_process.h"

#include <QCryptographicHash>
#include <QImage>
#include <QRandomGenerator>
#include <QtTest>

namespace {
// Pixels of the colour (the form's blue, the status green) inside the area, and their bounding box.
int count_pixels(const QImage &image, QRgb colour, const QRect &area, QRect *box = nullptr)
{
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if ((image.pixel(x, y) & 0xFFFFFF) == colour && ++n && box)
                *box |= QRect(x, y, 1, 1);
    return n;
}
} // namespace

class OperatorE2eTest : public QObject
{
    Q_OBJECT

    QProcess xvfb, tool;
    QString window;

    // An X client (on the private display, see DISPLAY); true when it exits with 0 in time.
    bool x(const QString &program, const QStringList &args, QByteArray *out = nullptr)
    {
        QProcess client;
        client.start(program, args);
        const bool ok = client.waitForFinished(10000) && client.exitStatus() == QProcess::NormalExit && !client.exitCode();
        if (out)
            *out = client.readAllStandardOutput();
        return ok;
    }
    // Captures the window to screenshots/NAME.png until the status shows green.
    QImage green_shot(const QString &name)
    {
        const QString path = QStringLiteral(KV20_SCREENSHOT_DIR "/") + name + ".png";
        QImage shot;
        return QTest::qWaitFor([&] {
            return x("import", {"-window", window, path}) && !(shot = QImage(path)).isNull()
                   && count_pixels(shot, 0x00FF00, shot.rect()) > 100;
        }, 5000) ? shot : QImage();
    }
    // The journal's rows, its header included, once it has `rows` of them.
    QList<QStringList> journal(const QString &path, int rows)
    {
        QList<QStringList> records;
        (void)QTest::qWaitFor([&] { return (records = read_csv(read_file(path))).size() >= rows; }, 5000);
        return records;
    }

private slots:
    void initTestCase()
    {
        for (const char *program : {"Xvfb", "xdotool", "import"})
            if (QStandardPaths::findExecutable(program).isEmpty())
                QSKIP("needs Xvfb, xdotool and ImageMagick's import (Debian: xvfb xdotool imagemagick)");
        // -displayfd: the first free display, written once it takes clients;
        // -noreset: a client arriving as the last one leaves is not refused.
        xvfb.start("Xvfb", {"-displayfd", "1", "-noreset", "-screen", "0", "1280x800x24", "-nolisten", "tcp"});
        QVERIFY(QTest::qWaitFor([&] { return xvfb.canReadLine(); }, 10000));
        // This process's environment is the one of every client it starts.
        qputenv("DISPLAY", ":" + xvfb.readLine().trimmed());
        QVERIFY(QDir().mkpath(KV20_SCREENSHOT_DIR));
    }
    void cleanupTestCase()
    {
        tool.kill();
        tool.waitForFinished();
        xvfb.terminate();
        xvfb.waitForFinished();
    }

    void audio_replacement_then_closing_during_a_transfer()
    {
        // 32 blocks, the last partly padding; the image's own last byte is not
        // the padding byte, so the simulator can strip the padding.
        QTemporaryDir work;
        QByteArray image(31 * 1024 + 700, '\0');
        QRandomGenerator(20250102).fillRange(reinterpret_cast<quint32 *>(image.data()), image.size() / 4);
        image[image.size() - 1] = char(0x5A);
        const QString image_path = work.filePath("sound.img"), received = work.filePath("received.img");
        QVERIFY(fake_sysfs::write(image_path, image));
        QVERIFY(fake_sysfs::write(work.filePath("config.ini"), "[General]\nfs.img_path=" + image_path.toUtf8()));
        // Paced like the real line: 32 KB take about 3 s.
        ModuleSimProcess sim({"--device-tree", work.filePath("sysfs"), "--pace", "--save-image", received,
                              "--strip-padding"});
        QVERIFY(sim.start());

        qputenv("QT_QPA_PLATFORM", "xcb");
        qputenv("KV20_SYSFS_ROOT", work.filePath("sysfs").toLocal8Bit());
        tool.setWorkingDirectory(work.path());
        // Its trace, every layer's, beside the screenshots, for a failure.
        tool.setStandardErrorFile(QStringLiteral(KV20_SCREENSHOT_DIR "/kv20-tool-trace.txt"));
        tool.start(KV20_BIN_DIR "/kv20-tool", QStringList());
        QByteArray found;
        QVERIFY(QTest::qWaitFor([&] {
            return x("xdotool", {"search", "--onlyvisible", "--pid", QString::number(tool.processId()), "--name",
                                 "云音箱"}, &found);
        }, 10000));
        window = found.trimmed();
        QVERIFY(x("xdotool", {"windowfocus", "--sync", window}));
        // Ready in green; the action button is the blue text in the lower right quarter.
        const QImage start = green_shot("01_start");
        QRect button;
        QVERIFY(count_pixels(start, 0x3570A8, QRect(QPoint(start.width() / 2, start.height() / 2), start.size() / 2),
                             &button) > 200);
        const QStringList click_button{"mousemove", "--window", window, QString::number(button.center().x()),
                                       QString::number(button.center().y()), "click", "1"};

        // Audio replacement is the module's first operation, chosen at start.
        QVERIFY(x("xdotool", click_button));
        QVERIFY2(sim.wait_for_log(": ok, ACK", 10000), sim.stderr_log().constData());
        // A click on the disabled button during the transfer starts nothing.
        QVERIFY(x("xdotool", click_button));
        QVERIFY(!green_shot("02_audio_replacement_running").isNull());
        QVERIFY(sim.wait_for_log("image saved", 20000));
        QCOMPARE(journal(work.filePath("kv20-journal.csv"), 2).size(), 2);
        QCOMPARE(sim.stderr_log().count("command AT+XUPDATE"), 1);
        QVERIFY(read_file(received) == image);
        QVERIFY(!green_shot("03_audio_replacement_done").isNull());

        // Again with an image of about 9 s on the line, and the window closed
        // (Escape) as its second block arrives: the tool ends at once. The
        // button takes clicks again once the window has shown the result.
        QVERIFY(fake_sysfs::write(image_path, QByteArray(100 * 1024, 'k')));
        QVERIFY(QTest::qWaitFor([&] {
            return x("xdotool", click_button) && sim.stderr_log().count("command AT+XUPDATE") == 2;
        }, 10000));
        QVERIFY(QTest::qWaitFor([&] { return sim.stderr_log().count("block 2 #2") == 2; }, 10000));
        QVERIFY(x("xdotool", {"windowfocus", "--sync", window}) && x("xdotool", {"key", "Escape"}));
        QVERIFY2(tool.waitForFinished(3000), "the tool did not end within 3 s of its window closing");
        QCOMPARE(tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1, 0);

        // The journal: the replacement that finished, and the one the closed
        // window interrupted, written before the tool ended.
        const QList<QStringList> records = journal(work.filePath("kv20-journal.csv"), 3);
        QCOMPARE(records.size(), 3);
        QCOMPARE(records.at(1).mid(1, 3), QStringList({"window", sim.device_path().mid(5), "audio"}));
        QCOMPARE(records.at(1).mid(8, 5), QStringList({image_path, QString::number(image.size()),
                                                       QCryptographicHash::hash(image, QCryptographicHash::Sha256).toHex(),
                                                       "ok", ""}));
        QCOMPARE(records.at(2).mid(11, 2), QStringList({"failed", "interrupted"}));
    }
};

QTEST_GUILESS_MAIN(OperatorE2eTest)
#include "tst_operator_e2e.moc"
