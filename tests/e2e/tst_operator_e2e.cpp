// The tool as an operator uses it: kv20-tool runs as its own process on a
// private X server, finds the simulated module through the simulator's
// fabricated sysfs tree, and is driven with real mouse and key events
// (xdotool). What the window showed is read back from the tool's debug
// output, from screenshots (status colours) and from the log pane's text
// (selected with the keyboard and read as the X primary selection); what the
// module saw comes from the simulator's own log and saved image.
#include "tests/e2e/tool_process.h"
#include "tests/e2e/x_display.h"
#include "tests/support/module_sim_process.h"

#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>
#include <memory>

namespace {

const QString window_title = QStringLiteral("云音箱");
const QString query = QStringLiteral("设备查询");
const QString audio = QStringLiteral("音频更换");

// The form's text colours: the blue of labels and the action button, and the
// two status colours.
const QRgb blue = qRgb(53, 112, 168);
const QRgb green = qRgb(0, 255, 0);
const QRgb red = qRgb(255, 0, 0);

// Points of the form (732x476) that the layout pins to a corner whatever the
// language: the operation selector is the first widget under the tab bar, the
// device number field is the first row of the device panel, and the log pane
// fills its whole page. The action button is found on the screen instead.
const QPoint operation_selector(120, 72);
QPoint device_number_field(const QSize &s) { return {s.width() * 3 / 4, 152}; }
QPoint log_pane(const QSize &s) { return {s.width() / 2, s.height() / 2 + 20}; }

QByteArray status_line(const QString &text, bool success)
{
    return QStringLiteral("status: \"%1\" %2").arg(text, success ? QStringLiteral("green") : QStringLiteral("red")).toUtf8();
}

QByteArray field_line(int type, const QString &value)
{
    // No closing quote: the ICCID keeps the line end of the reply.
    return QStringLiteral("field: %1 \"%2").arg(type).arg(value).toUtf8();
}

const QByteArray button_disabled = "action button enabled: false";
const QByteArray controls_disabled = "controls enabled: false";
const QByteArray controls_enabled = "controls enabled: true";
const QByteArray port_opened = "usb serialport open\n";

int count_pixels(const QImage &image, QRgb colour, const QRect &area = QRect())
{
    const QRect r = area.isNull() ? image.rect() : area.intersected(image.rect());
    int n = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            n += (image.pixel(x, y) & 0xFFFFFF) == (colour & 0xFFFFFF);
    return n;
}

QRect bounding_box(const QImage &image, QRgb colour, const QRect &area)
{
    QRect box;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if ((image.pixel(x, y) & 0xFFFFFF) == (colour & 0xFFFFFF))
                box |= QRect(x, y, 1, 1);
    return box;
}

int count_of(const QByteArray &haystack, const QByteArray &needle)
{
    int n = 0;
    for (int at = haystack.indexOf(needle); at >= 0; at = haystack.indexOf(needle, at + needle.size()))
        ++n;
    return n;
}

QByteArray read_all(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Second role of this executable: print the X primary selection (what the
// tool's log pane has selected) and exit.
int print_x_selection(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication app(argc, argv);
    const QByteArray text = QGuiApplication::clipboard()->text(QClipboard::Selection).toUtf8();
    fwrite(text.constData(), 1, size_t(text.size()), stdout);
    fflush(stdout);
    return 0;
}

} // namespace

// One tool with one simulated module, in a throw-away working directory.
struct Session
{
    QTemporaryDir dir;
    std::unique_ptr<ModuleSimProcess> sim;
    ToolProcess tool;
    QString window;
    QSize size;
    QPoint action_button;
    QImage start_picture;

    QString work_path() const { return dir.filePath(QStringLiteral("work")); }
};

class OperatorE2eTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void cellular_query_fills_device_fields();
    void audio_replacement_delivers_the_image();
    void no_reply_shows_query_failure();
    void transfer_error_shows_download_failure();
    void missing_image_shows_download_failure();
    void english_form();
    void closing_the_window_during_a_transfer();

private:
    // Starts simulator and tool, waits for the window in its ready state and
    // finds the action button on it. start_shot names the screenshot of the
    // ready window; without a name it stays in the session's own folder.
    std::unique_ptr<Session> start_session(const QStringList &sim_args, const QByteArray &config_ini,
                                           const QString &start_shot = QString(), bool english = false);
    bool choose_operation(Session &s, const QString &operation);
    // Clicks the action button; returns the trace mark from before the click.
    int press_action_button(Session &s);
    // Waits for the end of the operation started at `from`: controls back.
    bool wait_for_operation_end(Session &s, int from, int timeout_ms = 10000);
    bool port_released(Session &s);
    // Captures the window until `shown` holds for the image; the last capture
    // stays in the screenshot folder.
    QImage capture_when(Session &s, const QString &path, const std::function<bool(const QImage &)> &shown,
                        int timeout_ms = 5000);
    QString shot_path(const QString &name) const { return screenshots.filePath(name + QStringLiteral(".png")); }
    QImage capture_status(Session &s, const QString &name, bool success);
    // Switches to the log tab, selects the whole pane, reads it, switches
    // back to the operation tab.
    QString read_log_pane(Session &s, const QString &screenshot_name, const QString &expected);
    QString x_selection();
    // The whole query on a module that answers, as the check that the port
    // is usable again.
    void query_succeeds_again(Session &s);

    XDisplay display;
    QDir screenshots;
    QImage chinese_start;
};

void OperatorE2eTest::initTestCase()
{
    if (!XDisplay::tools_installed())
        QSKIP("Xvfb or xdotool is not installed (Debian: xvfb xdotool)");
    QVERIFY2(!QStandardPaths::findExecutable(QStringLiteral("import")).isEmpty(),
             "ImageMagick's import is needed for the screenshots (Debian: imagemagick)");
    QVERIFY(QFile::exists(QStringLiteral(KV20_BIN_DIR "/kv20-tool")));
    QVERIFY(display.start());
    screenshots.setPath(QStringLiteral(KV20_SCREENSHOT_DIR));
    QVERIFY(screenshots.mkpath(QStringLiteral(".")));
}

void OperatorE2eTest::cleanupTestCase()
{
    display.stop();
}

std::unique_ptr<Session> OperatorE2eTest::start_session(const QStringList &sim_args, const QByteArray &config_ini,
                                                        const QString &start_shot, bool english)
{
    auto s = std::make_unique<Session>();
    if (!s->dir.isValid())
        return nullptr;
    const QString tree = s->dir.filePath(QStringLiteral("sysfs"));
    QDir(s->dir.path()).mkpath(QStringLiteral("work"));
    s->sim = std::make_unique<ModuleSimProcess>(QStringList {QStringLiteral("--device-tree"), tree} + sim_args);
    if (!s->sim->start())
        return nullptr;

    QFile ini(QDir(s->work_path()).filePath(QStringLiteral("config.ini")));
    if (!config_ini.isEmpty() && (!ini.open(QIODevice::WriteOnly) || ini.write(config_ini) != config_ini.size()))
        return nullptr;
    ini.close();
    if (english
        && !QFile::copy(QStringLiteral(KV20_BIN_DIR "/qt_en.qm"), QDir(s->work_path()).filePath(QStringLiteral("qt_en.qm"))))
        return nullptr;

    if (!s->tool.start(display.name(), tree, s->work_path()))
        return nullptr;
    if (s->tool.wait_for(status_line(QStringLiteral("就绪"), true), 0, 10000) < 0) {
        qWarning() << "no ready state; trace:" << s->tool.log();
        return nullptr;
    }
    s->window = display.wait_for_window(s->tool.pid(), window_title, 10000);
    if (s->window.isEmpty()) {
        qWarning() << "no window titled" << window_title;
        return nullptr;
    }
    s->size = display.window_size(s->window);
    if (!display.focus(s->window))
        return nullptr;

    // The action button is the only blue text in the lower right quarter.
    const QString first_path = start_shot.isEmpty() ? s->dir.filePath(QStringLiteral("start.png"))
                                                    : screenshots.filePath(start_shot + QStringLiteral(".png"));
    const QImage first = capture_when(*s, first_path, [](const QImage &shot) { return count_pixels(shot, green) > 100; });
    if (first.isNull())
        return nullptr;
    const QRect lower_right(first.width() / 2, first.height() / 2, first.width() / 2, first.height() / 2);
    const QRect text = bounding_box(first, blue, lower_right);
    if (count_pixels(first, blue, lower_right) < 200) {
        qWarning() << "no action button found";
        return nullptr;
    }
    s->action_button = text.center();
    s->start_picture = first;
    if (!english && chinese_start.isNull())
        chinese_start = first;
    return s;
}

bool OperatorE2eTest::choose_operation(Session &s, const QString &operation)
{
    // The cellular module's list: audio replacement first, query last.
    const QString key = operation == query ? QStringLiteral("End") : QStringLiteral("Home");
    const int before = display.visible_windows(s.tool.pid()).size();
    if (!display.click(s.window, operation_selector))
        return false;
    // The list pops up as a window of its own.
    if (!QTest::qWaitFor([&] { return display.visible_windows(s.tool.pid()).size() > before; }, 3000)) {
        qWarning() << "the operation list did not open; tool running:" << s.tool.running() << "trace:" << s.tool.log();
        return false;
    }
    if (!display.keys({key, QStringLiteral("Return")}))
        return false;
    return QTest::qWaitFor([&] { return display.visible_windows(s.tool.pid()).size() == before; }, 3000);
}

int OperatorE2eTest::press_action_button(Session &s)
{
    const int mark = s.tool.mark();
    if (!display.click(s.window, s.action_button))
        return -1;
    return mark;
}

bool OperatorE2eTest::wait_for_operation_end(Session &s, int from, int timeout_ms)
{
    return s.tool.wait_for(controls_enabled, from, timeout_ms) >= 0;
}

bool OperatorE2eTest::port_released(Session &s)
{
    return QTest::qWaitFor([&] { return !s.tool.holds(s.sim->device_path()); }, 3000);
}

QImage OperatorE2eTest::capture_when(Session &s, const QString &path,
                                     const std::function<bool(const QImage &)> &shown, int timeout_ms)
{
    QImage shot;
    // The trace line comes before the repaint: capture until it shows.
    const bool showed = QTest::qWaitFor(
        [&] {
            shot = display.capture(s.window, path);
            return !shot.isNull() && shown(shot);
        },
        timeout_ms);
    if (!showed) {
        qWarning() << path << "never showed what was expected";
        return {};
    }
    return shot;
}

QImage OperatorE2eTest::capture_status(Session &s, const QString &name, bool success)
{
    // Only the status line uses these two colours.
    return capture_when(s, shot_path(name), [success](const QImage &shot) {
        return count_pixels(shot, success ? green : red) > 100 && count_pixels(shot, success ? red : green) == 0;
    });
}

QString OperatorE2eTest::x_selection()
{
    QProcess reader;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display.name());
    use_x11_sanitizer_options(env);
    reader.setProcessEnvironment(env);
    reader.setStandardInputFile(QProcess::nullDevice());
    reader.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--print-x-selection")});
    if (!reader.waitForFinished(10000)) {
        reader.kill();
        reader.waitForFinished(1000);
        return QString();
    }
    return QString::fromUtf8(reader.readAllStandardOutput());
}

QString OperatorE2eTest::read_log_pane(Session &s, const QString &screenshot_name, const QString &expected)
{
    // Focus into the operation page, then the third tab by keyboard.
    if (!display.click(s.window, device_number_field(s.size))
        || !display.keys({QStringLiteral("ctrl+Tab"), QStringLiteral("ctrl+Tab")}))
        return QString();
    // The log page has neither status colour nor the blue of the form.
    if (capture_when(s, s.dir.filePath(QStringLiteral("log_page.png")), [](const QImage &shot) {
            return count_pixels(shot, green) == 0 && count_pixels(shot, red) == 0 && count_pixels(shot, blue) == 0;
        }).isNull())
        return QString();
    if (!display.click(s.window, log_pane(s.size)) || !display.keys({QStringLiteral("ctrl+a")}))
        return QString();
    QString text;
    if (!QTest::qWaitFor([&] { return (text = x_selection()).contains(expected); }, 5000))
        qWarning() << "the log pane's selection never held" << expected << "but" << text;
    // The selection as the operator sees it.
    capture_when(s, shot_path(screenshot_name), [](const QImage &) { return true; });
    display.keys({QStringLiteral("ctrl+Tab")});
    return text;
}

void OperatorE2eTest::query_succeeds_again(Session &s)
{
    const int infos = count_of(s.sim->stderr_log(), "command AT+INFO");
    QVERIFY(choose_operation(s, query));
    const int from = press_action_button(s);
    QVERIFY(from >= 0);
    QVERIFY(wait_for_operation_end(s, from));
    QVERIFY2(!s.tool.in_order({port_opened, status_line(QStringLiteral("设备信息获取成功"), true), controls_enabled}, from)
                  .isEmpty(),
             s.tool.log().mid(from).constData());
    QCOMPARE(count_of(s.sim->stderr_log(), "command AT+INFO"), infos + 1);
    QVERIFY(port_released(s));
}

void OperatorE2eTest::cellular_query_fills_device_fields()
{
    const QString devno = QStringLiteral("KV20E2E0042");
    const QString imei = QStringLiteral("861234500000042");
    const QString iccid = QStringLiteral("89860123450000000042");
    const QString version = QStringLiteral("KV20-FW-2.3.4");
    auto s = start_session({QStringLiteral("--devno"), devno, QStringLiteral("--imei"), imei, QStringLiteral("--iccid"),
                            iccid, QStringLiteral("--fw-version"), version},
                           QByteArray(), QStringLiteral("01_start"));
    QVERIFY(s);
    QCOMPARE(s->size, QSize(732, 476));
    QVERIFY(!s->tool.holds(s->sim->device_path()));

    QVERIFY(choose_operation(*s, query));
    const int from = press_action_button(*s);
    QVERIFY(from >= 0);
    QVERIFY2(wait_for_operation_end(*s, from), s->tool.log().mid(from).constData());

    // Button first, then all three controls; fields as the replies come;
    // the controls come back after the result.
    const QList<int> seen = s->tool.in_order(
        {port_opened, button_disabled, controls_disabled, status_line(QStringLiteral("设备信息读取中"), true),
         field_line(3, devno), field_line(0, imei), field_line(2, iccid), field_line(1, version),
         status_line(QStringLiteral("设备信息获取成功"), true), controls_enabled},
        from);
    QVERIFY2(!seen.isEmpty(), s->tool.log().mid(from).constData());
    QCOMPARE(s->tool.count(controls_enabled, from), 1);
    QCOMPARE(s->tool.count("status: ", from), 2);

    const QByteArray sim_log = s->sim->stderr_log();
    QCOMPARE(count_of(sim_log, "command AT+INFO"), 1);
    QCOMPARE(count_of(sim_log, "command AT+LVER"), 1);
    QVERIFY(port_released(*s));
    QVERIFY(!capture_status(*s, QStringLiteral("02_cellular_query"), true).isNull());

    // The port was closed: the same module answers the next query at once.
    query_succeeds_again(*s);
    if (QTest::currentTestFailed())
        return;
    const QString log = read_log_pane(*s, QStringLiteral("03_log_pane"), QStringLiteral("close serial port\nclose serial port"));
    QCOMPARE(log, QStringLiteral("close serial port\nclose serial port"));
    // Back on the first tab, the result still shows.
    QVERIFY(!capture_status(*s, QStringLiteral("02_cellular_query"), true).isNull());
}

void OperatorE2eTest::audio_replacement_delivers_the_image()
{
    QTemporaryDir images;
    QVERIFY(images.isValid());
    // 32 blocks, the last one partly padding; the image's own last byte is
    // not the padding byte, so stripping the padding gives the image back.
    QByteArray image(31 * 1024 + 700, '\0');
    QRandomGenerator random(20250102);
    for (char &c : image)
        c = char(random.bounded(256));
    image[image.size() - 1] = char(0x5A);
    const QString image_path = images.filePath(QStringLiteral("sound.img"));
    const QString saved_path = images.filePath(QStringLiteral("received.img"));
    {
        QFile file(image_path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(image), qint64(image.size()));
    }
    // Paced like the real line, so that the transfer takes a few seconds.
    auto s = start_session({QStringLiteral("--pace"), QStringLiteral("--save-image"), saved_path, QStringLiteral("--strip-padding")},
                           "[General]\nfs.img_path=" + image_path.toUtf8() + "\n");
    QVERIFY(s);

    QVERIFY(choose_operation(*s, audio));
    const int from = press_action_button(*s);
    QVERIFY(from >= 0);

    // During the transfer: the port is held, the controls are off and a
    // second click on the button starts nothing.
    QVERIFY2(s->sim->wait_for_log(": ok, ACK", 10000), s->sim->stderr_log().constData());
    QVERIFY(s->tool.holds(s->sim->device_path()));
    QVERIFY(!s->tool.in_order({button_disabled, controls_disabled}, from).isEmpty());
    QCOMPARE(s->tool.count(controls_enabled, from), 0);
    QVERIFY(display.click(s->window, s->action_button));
    QVERIFY(display.click(s->window, operation_selector));
    QVERIFY(!capture_status(*s, QStringLiteral("04_audio_replacement_running"), true).isNull());
    // By the time the picture showed, an enabled selector would have opened
    // its list; and all of it happened before the transfer ended.
    QCOMPARE(display.visible_windows(s->tool.pid()).size(), 1);
    QVERIFY(!s->sim->stderr_log().contains("EOT"));

    QVERIFY2(wait_for_operation_end(*s, from, 20000), s->tool.log().mid(from).constData());
    QVERIFY2(!s->tool.in_order({status_line(QStringLiteral("设备信息获取成功"), true),
                                status_line(QStringLiteral("音频文件下载中"), true),
                                status_line(QStringLiteral("下载成功"), true), controls_enabled},
                               from)
                  .isEmpty(),
             s->tool.log().mid(from).constData());
    QCOMPARE(s->tool.count(port_opened, from), 1);
    QCOMPARE(s->tool.count(button_disabled, from), 1);
    QCOMPARE(s->tool.count(controls_enabled, from), 1);

    QVERIFY(s->sim->wait_for_log("image saved", 5000));
    const QByteArray sim_log = s->sim->stderr_log();
    QCOMPARE(count_of(sim_log, "command AT+INFO"), 1);
    QCOMPARE(count_of(sim_log, "command AT+XUPDATE"), 1);
    const QByteArray received = read_all(saved_path);
    QCOMPARE(received.size(), image.size());
    QVERIFY(received == image);
    QVERIFY(port_released(*s));
    QVERIFY(!capture_status(*s, QStringLiteral("05_audio_replacement_done"), true).isNull());

    const QString log = read_log_pane(*s, QStringLiteral("05_audio_replacement_log"), QStringLiteral("close serial port"));
    QVERIFY2(log.contains(QStringLiteral("xmodem transfer OK\nclose serial port")), qPrintable(log));
}

void OperatorE2eTest::no_reply_shows_query_failure()
{
    // Silent for the five attempts of one query, then answering again.
    auto s = start_session({QStringLiteral("--no-reply"), QStringLiteral("--fault-times"), QStringLiteral("5")}, QByteArray());
    QVERIFY(s);
    QVERIFY(choose_operation(*s, query));
    const int from = press_action_button(*s);
    QVERIFY(from >= 0);
    QVERIFY2(wait_for_operation_end(*s, from), s->tool.log().mid(from).constData());
    QVERIFY(s->tool.wait_for(status_line(QStringLiteral("设备信息获取失败"), false), from, 1000) >= 0);
    QVERIFY2(!s->tool.in_order({button_disabled, controls_disabled, status_line(QStringLiteral("设备信息读取中"), true),
                                controls_enabled, status_line(QStringLiteral("设备信息获取失败"), false)},
                               from)
                  .isEmpty(),
             s->tool.log().mid(from).constData());
    QCOMPARE(s->tool.count("field: ", from), 0);
    QCOMPARE(count_of(s->sim->stderr_log(), "command AT+INFO -> no reply"), 5);
    QVERIFY(port_released(*s));
    QVERIFY(!capture_status(*s, QStringLiteral("06_no_reply"), false).isNull());

    const QString log = read_log_pane(*s, QStringLiteral("06_no_reply_log"), QStringLiteral("close serial port"));
    QVERIFY2(log.endsWith(QStringLiteral("close serial port")), qPrintable(log));
    query_succeeds_again(*s);
}

void OperatorE2eTest::transfer_error_shows_download_failure()
{
    QTemporaryDir images;
    QVERIFY(images.isValid());
    const QString image_path = images.filePath(QStringLiteral("sound.img"));
    {
        QFile file(image_path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(5 * 1024, 'a'));
    }
    // The second block is refused as often as the sender tries it.
    auto s = start_session({QStringLiteral("--nak-block"), QStringLiteral("2"), QStringLiteral("--nak-times"), QStringLiteral("5")},
                           "[General]\nfs.img_path=" + image_path.toUtf8() + "\n");
    QVERIFY(s);
    QVERIFY(choose_operation(*s, audio));
    const int from = press_action_button(*s);
    QVERIFY(from >= 0);
    QVERIFY2(wait_for_operation_end(*s, from), s->tool.log().mid(from).constData());
    QVERIFY(s->tool.wait_for(status_line(QStringLiteral("下载失败"), false), from, 2000) >= 0);
    QVERIFY2(!s->tool.in_order({button_disabled, controls_disabled, status_line(QStringLiteral("音频文件下载中"), true),
                                status_line(QStringLiteral("传输错误"), false), controls_enabled,
                                status_line(QStringLiteral("下载失败"), false)},
                               from)
                  .isEmpty(),
             s->tool.log().mid(from).constData());
    QCOMPARE(s->tool.count(status_line(QStringLiteral("下载成功"), true), from), 0);
    const QByteArray sim_log = s->sim->stderr_log();
    QVERIFY(sim_log.contains("NAK on purpose (5 of 5)"));
    QVERIFY(!sim_log.contains("EOT"));
    QVERIFY(port_released(*s));
    QVERIFY(!capture_status(*s, QStringLiteral("07_transfer_error"), false).isNull());

    const QString log = read_log_pane(*s, QStringLiteral("07_transfer_error_log"), QStringLiteral("close serial port"));
    QVERIFY2(log.contains(QStringLiteral("xmodem transmit error")), qPrintable(log));
    QVERIFY2(log.endsWith(QStringLiteral("close serial port")), qPrintable(log));
    query_succeeds_again(*s);
}

void OperatorE2eTest::missing_image_shows_download_failure()
{
    const QByteArray missing = "/nonexistent/kv20/sound.img";
    auto s = start_session({}, "[General]\nfs.img_path=" + missing + "\n");
    QVERIFY(s);
    QVERIFY(choose_operation(*s, audio));
    const int from = press_action_button(*s);
    QVERIFY(from >= 0);
    QVERIFY2(wait_for_operation_end(*s, from), s->tool.log().mid(from).constData());
    QVERIFY(s->tool.wait_for(status_line(QStringLiteral("下载失败"), false), from, 2000) >= 0);
    QVERIFY2(!s->tool.in_order({button_disabled, controls_disabled, "open: \"" + missing + "\"",
                                status_line(QStringLiteral("未发现软件"), false), controls_enabled,
                                status_line(QStringLiteral("下载失败"), false)},
                               from)
                  .isEmpty(),
             s->tool.log().mid(from).constData());
    // The module was queried but never asked to download.
    const QByteArray sim_log = s->sim->stderr_log();
    QCOMPARE(count_of(sim_log, "command AT+INFO"), 1);
    QVERIFY(!sim_log.contains("AT+XUPDATE"));
    QVERIFY(port_released(*s));
    QVERIFY(!capture_status(*s, QStringLiteral("08_missing_image"), false).isNull());

    const QString log = read_log_pane(*s, QStringLiteral("08_missing_image_log"), QStringLiteral("close serial port"));
    QVERIFY2(log.contains(QStringLiteral("firmware not found!\nclose serial port")), qPrintable(log));
    query_succeeds_again(*s);
}

void OperatorE2eTest::english_form()
{
    if (chinese_start.isNull()) {
        // Run on its own: take the Chinese form's picture first.
        auto zh = start_session({}, QByteArray(), QStringLiteral("01_start"));
        QVERIFY(zh);
    }
    QVERIFY(!chinese_start.isNull());
    auto s = start_session({}, QByteArray(), QStringLiteral("09_english_form_start"), true);
    QVERIFY(s);
    QVERIFY(choose_operation(*s, query));
    const int from = press_action_button(*s);
    QVERIFY(from >= 0);
    QVERIFY(wait_for_operation_end(*s, from));
    QVERIFY(s->tool.in_order({status_line(QStringLiteral("设备信息获取成功"), true), controls_enabled}, from).size() == 2);
    QVERIFY(port_released(*s));
    QVERIFY(!capture_status(*s, QStringLiteral("09_english_form"), true).isNull());
    // The catalogue changed the tab titles: the tab bar of the start state is
    // drawn differently from the Chinese one.
    const QImage english = s->start_picture;
    const QRect tab_bar(0, 0, english.width(), 40);
    QCOMPARE(english.size(), chinese_start.size());
    QVERIFY(english.copy(tab_bar) != chinese_start.copy(tab_bar));
}

void OperatorE2eTest::closing_the_window_during_a_transfer()
{
    QTemporaryDir images;
    QVERIFY(images.isValid());
    // About 9 s on the paced line: the window is closed in the middle.
    const QString image_path = images.filePath(QStringLiteral("sound.img"));
    {
        QFile file(image_path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.write(QByteArray(100 * 1024, 'k')) == 100 * 1024);
    }
    auto s = start_session({QStringLiteral("--pace")}, "[General]\nfs.img_path=" + image_path.toUtf8() + "\n");
    QVERIFY(s);
    QVERIFY(choose_operation(*s, audio));
    const int from = press_action_button(*s);
    QVERIFY(from >= 0);
    QVERIFY(s->tool.wait_for(status_line(QStringLiteral("音频文件下载中"), true), from, 5000) >= 0);
    QVERIFY(s->sim->wait_for_log("block 2 ", 5000));

    // Escape closes the dialog, the last window: the application ends.
    QElapsedTimer timer;
    timer.start();
    QVERIFY(display.focus(s->window));
    QVERIFY(display.keys({QStringLiteral("Escape")}));
    int code = -1;
    QVERIFY2(s->tool.wait_for_exit(3000, &code), "the tool did not end after its window was closed");
    const qint64 elapsed = timer.elapsed();
    qInfo("closed during a transfer: the tool ended in %lld ms with exit code %d", elapsed, code);
    QCOMPARE(code, 0);
    QVERIFY2(elapsed < 1500, qPrintable(QString::number(elapsed)));
    QVERIFY(!s->tool.log().contains("QThread: Destroyed while thread is still running"));
}

int main(int argc, char **argv)
{
    if (argc == 2 && qstrcmp(argv[1], "--print-x-selection") == 0)
        return print_x_selection(argc, argv);
    QCoreApplication app(argc, argv);
    OperatorE2eTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_operator_e2e.moc"
