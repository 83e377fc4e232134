// The tool as an operator uses it: kv20-tool on a private X server (Xvfb)
// with a simulated module, driven with real clicks and keys (xdotool). What
// the window shows is read from its kv20.window log category and from
// screenshots, which stay in the build's screenshots folder.
#include "tests/support/module_sim_process.h"

#include <QElapsedTimer>
#include <QImage>
#include <QRandomGenerator>
#include <QtTest>

namespace {

// The blue of the form's action button and the status line's green.
const QRgb blue = qRgb(53, 112, 168);
const QRgb green = qRgb(0, 255, 0);

// Pixels of the colour inside the area, and their bounding box.
int count_pixels(const QImage &image, QRgb colour, const QRect &area, QRect *box = nullptr)
{
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if ((image.pixel(x, y) & 0xFFFFFF) == (colour & 0xFFFFFF)) {
                ++n;
                if (box)
                    *box |= QRect(x, y, 1, 1);
            }
    return n;
}

bool write_file(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

class OperatorE2eTest : public QObject
{
    Q_OBJECT

    QProcess xvfb, tool;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    QString window;
    QByteArray trace;

    // An X client on the private display; true when it exits with 0 in time.
    bool x(const QString &program, const QStringList &args, QByteArray *out = nullptr)
    {
        QProcess client;
        client.setProcessEnvironment(env);
        client.start(program, args);
        const bool ok = client.waitForFinished(10000) && client.exitStatus() == QProcess::NormalExit
                        && client.exitCode() == 0;
        if (out)
            *out = client.readAllStandardOutput();
        return ok;
    }
    // Captures the window to screenshots/NAME.png until the status shows green.
    QImage green_shot(const QString &name)
    {
        const QString path = QStringLiteral(KV20_SCREENSHOT_DIR "/") + name + ".png";
        QImage shot;
        const auto green_status = [&] {
            return x("import", {"-window", window, path}) && !(shot = QImage(path)).isNull()
                   && count_pixels(shot, green, shot.rect()) > 100;
        };
        return QTest::qWaitFor(green_status, 5000) ? shot : QImage();
    }
    // The tool's window state lines at or after `from`.
    int traced(const QByteArray &line, int from)
    {
        trace += tool.readAllStandardError();
        return trace.mid(from).count(line);
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
        env.insert("DISPLAY", ":" + xvfb.readLine().trimmed());
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
        QVERIFY(write_file(image_path, image));
        QVERIFY(write_file(work.filePath("config.ini"), "[General]\nfs.img_path=" + image_path.toUtf8() + "\n"));
        // Paced like the real line: 32 KB take about 3 s.
        ModuleSimProcess sim({"--device-tree", work.filePath("sysfs"), "--pace", "--save-image", received,
                              "--strip-padding"});
        QVERIFY(sim.start());

        QProcessEnvironment tool_env = env;
        tool_env.insert("QT_QPA_PLATFORM", "xcb");
        tool_env.insert("KV20_SYSFS_ROOT", work.filePath("sysfs"));
        tool_env.insert("QT_LOGGING_RULES", "kv20.window.debug=true");
        tool.setProcessEnvironment(tool_env);
        tool.setWorkingDirectory(work.path());
        tool.start(KV20_BIN_DIR "/kv20-tool", QStringList());
        QByteArray found;
        QVERIFY(QTest::qWaitFor([&] {
            return x("xdotool", {"search", "--onlyvisible", "--pid", QString::number(tool.processId()), "--name", "云音箱"},
                     &found);
        }, 10000));
        window = found.trimmed();
        QVERIFY(x("xdotool", {"windowfocus", "--sync", window}));

        // Ready in green; the action button is the blue text in the lower right quarter.
        const QImage start = green_shot("01_start");
        QVERIFY(!start.isNull());
        QRect text;
        QVERIFY(count_pixels(start, blue, QRect(start.width() / 2, start.height() / 2, start.width() / 2,
                                                start.height() / 2), &text) > 200);
        const QStringList click_button{"mousemove", "--window", window, QString::number(text.center().x()),
                                       QString::number(text.center().y()), "click", "1"};

        // Audio replacement is the module's first operation, chosen at start.
        QVERIFY(x("xdotool", click_button));
        QVERIFY2(sim.wait_for_log(": ok, ACK", 10000), sim.stderr_log().constData());
        QVERIFY(QTest::qWaitFor([&] { return traced("controls enabled: false", 0) == 1; }, 5000));
        // A click on the disabled button during the transfer starts nothing.
        QVERIFY(x("xdotool", click_button));
        QVERIFY(!green_shot("02_audio_replacement_running").isNull());
        QVERIFY(QTest::qWaitFor([&] { return traced("status: \"下载成功\" green", 0) == 1; }, 20000));
        QVERIFY(QTest::qWaitFor([&] { return traced("controls enabled: true", 0) == 1; }, 5000));
        QVERIFY(sim.wait_for_log("image saved", 5000));
        QCOMPARE(sim.stderr_log().count("command AT+XUPDATE"), 1);
        QFile saved(received);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QVERIFY(saved.readAll() == image);
        QVERIFY(!green_shot("03_audio_replacement_done").isNull());

        // Again with an image of about 9 s on the line, and the window closed
        // (Escape) as its second block arrives: the tool ends at once.
        QVERIFY(write_file(image_path, QByteArray(100 * 1024, 'k')));
        QVERIFY(x("xdotool", click_button));
        QVERIFY(QTest::qWaitFor([&] { return sim.stderr_log().count("block 2 #2") == 2; }, 10000));
        QElapsedTimer closing;
        closing.start();
        QVERIFY(x("xdotool", {"windowfocus", "--sync", window}));
        QVERIFY(x("xdotool", {"key", "Escape"}));
        QVERIFY2(tool.waitForFinished(3000), "the tool did not end within 3 s of its window closing");
        qInfo("closed during a transfer: the tool ended after %lld ms", closing.elapsed());
        QCOMPARE(tool.exitStatus(), QProcess::NormalExit);
        QCOMPARE(tool.exitCode(), 0);
        QVERIFY(!sim.stderr_log().contains("block 100 "));
        QVERIFY(!tool.readAllStandardError().contains("QThread: Destroyed while thread is still running"));

        // JOURNAL CHECK GOES HERE: the journal record file the tool writes in
        // its working directory (work) will be read back at this point, with
        // one record for the finished replacement and one for the interrupted one.
    }
};

QTEST_GUILESS_MAIN(OperatorE2eTest)
#include "tst_operator_e2e.moc"
