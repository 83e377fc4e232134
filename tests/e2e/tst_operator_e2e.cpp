// The tool as an operator uses it: kv20-tool on a private X server with a
// simulated module, driven with real mouse and key events. What the window
// showed comes from the tool's debug output, screenshots (status colours) and
// the log pane's text (read as the X primary selection).
#include "tests/e2e/tool_process.h"
#include "tests/e2e/x_display.h"
#include "tests/support/module_sim_process.h"

#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTextStream>
#include <QtTest>

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

QByteArray status(const char *text, const char *colour = "green")
{
    return "status: \"" + QByteArray(text) + "\" " + colour;
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
const QByteArray query_ok = status("设备信息获取成功");
const QByteArray download_failed = status("下载失败", "red");
const QString port_closed = QStringLiteral("close serial port");

QString shot_path(const QString &name)
{
    return QStringLiteral(KV20_SCREENSHOT_DIR "/") + name + QStringLiteral(".png");
}

bool write_file(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Pixels of the colour in the area (whole image when null), and their
// bounding box.
int count_pixels(const QImage &image, QRgb colour, const QRect &area = QRect(), QRect *box = nullptr)
{
    const QRect r = area.isNull() ? image.rect() : area.intersected(image.rect());
    int n = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            if ((image.pixel(x, y) & 0xFFFFFF) == (colour & 0xFFFFFF)) {
                ++n;
                if (box)
                    *box |= QRect(x, y, 1, 1);
            }
    return n;
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

    int sim_count(const QByteArray &needle) { return count_of(sim->stderr_log(), needle); }
    bool port_released() { return QTest::qWaitFor([this] { return !tool.holds(sim->device_path()); }, 3000); }
};

class OperatorE2eTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cellular_query_fills_device_fields();
    void audio_replacement_delivers_the_image();
    void no_reply_shows_query_failure();
    void transfer_error_shows_download_failure();
    void missing_image_shows_download_failure();
    void english_form();
    void closing_the_window_during_a_transfer();

private:
    // Starts simulator and tool (with fs.img_path when given), waits for the
    // ready window (screenshot start_shot) and finds its action button.
    std::unique_ptr<Session> start_session(const QStringList &sim_args, const QString &fs_path = QString(),
                                           const QString &start_shot = QString(), bool english = false);
    // An image file of this test function; its path, empty on failure.
    QString write_image(const QByteArray &bytes);
    // Chooses the operation and clicks the action button; the trace position
    // from before the click, or -1. run_operation also waits for the last of
    // `shown` and checks that the tool traced all of them in this order.
    int start_operation(Session &s, const QString &operation);
    int run_operation(Session &s, const QString &operation, const QList<QByteArray> &shown);
    // Captures the window to path until `shown` holds for the image.
    QImage capture_when(Session &s, const QString &path, const std::function<bool(const QImage &)> &shown);
    // Only the status line uses the two status colours.
    bool status_shows(Session &s, const QString &shot, bool success);
    // The log tab's whole text, selected; then back to the operation tab.
    QString read_log_pane(Session &s, const QString &screenshot_name, const QString &expected);
    // The port is usable again: a query on a module that answers succeeds.
    void query_succeeds_again(Session &s);
    // The end of an operation: the port released, the status in its colour,
    // the log pane ending with log_tail, and the next query working.
    void check_ended(Session &s, const QString &shot, const QString &log_shot, bool success, const QString &log_tail);

    XDisplay display;
    QTemporaryDir images;
    QImage chinese_start;
};

void OperatorE2eTest::initTestCase()
{
    if (!XDisplay::tools_installed())
        QSKIP("Xvfb or xdotool is not installed (Debian: xvfb xdotool)");
    QVERIFY2(!QStandardPaths::findExecutable(QStringLiteral("import")).isEmpty(),
             "ImageMagick's import is needed for the screenshots (Debian: imagemagick)");
    QVERIFY(QFile::exists(QStringLiteral(KV20_BIN_DIR "/kv20-tool")));
    QVERIFY(images.isValid());
    QVERIFY(display.start());
    QVERIFY(QDir().mkpath(QStringLiteral(KV20_SCREENSHOT_DIR)));
}

std::unique_ptr<Session> OperatorE2eTest::start_session(const QStringList &sim_args, const QString &fs_path,
                                                        const QString &start_shot, bool english)
{
    auto s = std::make_unique<Session>();
    const QString tree = s->dir.filePath(QStringLiteral("sysfs"));
    const QDir work(s->dir.filePath(QStringLiteral("work")));
    if (!s->dir.isValid() || !work.mkpath(QStringLiteral("."))
        || (!fs_path.isEmpty()
            && !write_file(work.filePath(QStringLiteral("config.ini")), "[General]\nfs.img_path=" + fs_path.toUtf8() + "\n"))
        || (english && !QFile::copy(QStringLiteral(KV20_BIN_DIR "/qt_en.qm"), work.filePath(QStringLiteral("qt_en.qm")))))
        return nullptr;
    s->sim = std::make_unique<ModuleSimProcess>(QStringList {QStringLiteral("--device-tree"), tree} + sim_args);
    if (!s->sim->start() || !s->tool.start(display, tree, work.path()))
        return nullptr;
    if (s->tool.wait_for(status("就绪"), 0, 10000) < 0
        || (s->window = display.wait_for_window(s->tool.pid(), window_title, 10000)).isEmpty()
        || !display.focus(s->window)) {
        qWarning() << "no ready window titled" << window_title << "; trace:" << s->tool.log();
        return nullptr;
    }
    s->size = display.window_size(s->window);

    // The action button is the only blue text in the lower right quarter.
    const QString first_path = start_shot.isEmpty() ? s->dir.filePath(QStringLiteral("start.png")) : shot_path(start_shot);
    const QImage first = capture_when(*s, first_path, [](const QImage &shot) { return count_pixels(shot, green) > 100; });
    const QRect lower_right(first.width() / 2, first.height() / 2, first.width() / 2, first.height() / 2);
    QRect text;
    if (first.isNull() || count_pixels(first, blue, lower_right, &text) < 200) {
        qWarning() << "no action button found";
        return nullptr;
    }
    s->action_button = text.center();
    s->start_picture = first;
    if (!english && chinese_start.isNull())
        chinese_start = first;
    return s;
}

QString OperatorE2eTest::write_image(const QByteArray &bytes)
{
    const QString path = images.filePath(QString::fromLatin1(QTest::currentTestFunction()) + QStringLiteral(".img"));
    return write_file(path, bytes) ? path : QString();
}

int OperatorE2eTest::start_operation(Session &s, const QString &operation)
{
    // The cellular module's list (audio replacement first, query last) pops
    // up as a window of its own.
    auto windows = [&] { return display.visible_windows(s.tool.pid()).size(); };
    const int before = windows();
    if (!display.click(s.window, operation_selector) || !QTest::qWaitFor([&] { return windows() > before; }, 3000)
        || !display.keys({operation == query ? "End" : "Home", "Return"})
        || !QTest::qWaitFor([&] { return windows() == before; }, 3000)) {
        qWarning() << "the operation list failed; tool running:" << s.tool.running() << "trace:" << s.tool.log();
        return -1;
    }
    const int mark = s.tool.log().size();
    return display.click(s.window, s.action_button) ? mark : -1;
}

int OperatorE2eTest::run_operation(Session &s, const QString &operation, const QList<QByteArray> &shown)
{
    const int from = start_operation(s, operation);
    if (from < 0 || s.tool.wait_for(shown.last(), from, 10000) < 0 || !s.tool.shows_in_order(shown, from)) {
        qWarning().noquote() << "trace:\n" << s.tool.log().mid(qMax(from, 0));
        return -1;
    }
    return from;
}

QImage OperatorE2eTest::capture_when(Session &s, const QString &path, const std::function<bool(const QImage &)> &shown)
{
    QImage shot;
    // The trace line comes before the repaint: capture until it shows.
    if (QTest::qWaitFor([&] { return !(shot = display.capture(s.window, path)).isNull() && shown(shot); }, 5000))
        return shot;
    qWarning() << path << "never showed what was expected";
    return {};
}

bool OperatorE2eTest::status_shows(Session &s, const QString &shot, bool success)
{
    return !capture_when(s, shot_path(shot), [success](const QImage &image) {
                return count_pixels(image, success ? green : red) > 100 && count_pixels(image, success ? red : green) == 0;
            }).isNull();
}

QString OperatorE2eTest::read_log_pane(Session &s, const QString &screenshot_name, const QString &expected)
{
    // Focus into the operation page, then the third tab by keyboard: it has
    // neither status colour nor the blue of the form.
    if (!display.click(s.window, device_number_field(s.size)) || !display.keys({"ctrl+Tab", "ctrl+Tab"})
        || capture_when(s, s.dir.filePath(QStringLiteral("log_page.png")), [](const QImage &shot) {
               return count_pixels(shot, green) == 0 && count_pixels(shot, red) == 0 && count_pixels(shot, blue) == 0;
           }).isNull()
        || !display.click(s.window, log_pane(s.size)) || !display.keys({"ctrl+a"}))
        return QString();
    // This executable in its second role reads the selection.
    QByteArray text;
    if (!QTest::qWaitFor([&] {
            return display.run(QCoreApplication::applicationFilePath(), {QStringLiteral("--print-x-selection")}, &text, 10000)
                   && QString::fromUtf8(text).contains(expected);
        }, 5000))
        qWarning() << "the log pane's selection never held" << expected << "but" << text;
    // The selection as the operator sees it.
    capture_when(s, shot_path(screenshot_name), [](const QImage &) { return true; });
    display.keys({"ctrl+Tab"});
    return QString::fromUtf8(text);
}

void OperatorE2eTest::query_succeeds_again(Session &s)
{
    const int infos = s.sim_count("command AT+INFO");
    QVERIFY(run_operation(s, query, {port_opened, query_ok, controls_enabled}) >= 0);
    QCOMPARE(s.sim_count("command AT+INFO"), infos + 1);
    QVERIFY(s.port_released());
}

void OperatorE2eTest::check_ended(Session &s, const QString &shot, const QString &log_shot, bool success,
                                  const QString &log_tail)
{
    QVERIFY(s.port_released());
    QVERIFY(status_shows(s, shot, success));
    const QString log = read_log_pane(s, log_shot, log_tail);
    QVERIFY2(log.endsWith(log_tail), qPrintable(log));
    query_succeeds_again(s);
}

void OperatorE2eTest::cellular_query_fills_device_fields()
{
    const QString devno = "KV20E2E0042", imei = "861234500000042", iccid = "89860123450000000042", version = "KV20-FW-2.3.4";
    auto s = start_session({"--devno", devno, "--imei", imei, "--iccid", iccid, "--fw-version", version}, {}, "01_start");
    QVERIFY(s);
    QCOMPARE(s->size, QSize(732, 476));
    QVERIFY(!s->tool.holds(s->sim->device_path()));

    // Button first, then all three controls; fields as the replies come;
    // the controls come back after the result.
    const int from = run_operation(*s, query,
                                   {port_opened, button_disabled, controls_disabled, status("设备信息读取中"),
                                    field_line(3, devno), field_line(0, imei), field_line(2, iccid),
                                    field_line(1, version), query_ok, controls_enabled});
    QVERIFY(from >= 0);
    QCOMPARE(s->tool.count(controls_enabled, from), 1);
    QCOMPARE(s->tool.count("status: ", from), 2);
    QCOMPARE(s->sim_count("command AT+INFO"), 1);
    QCOMPARE(s->sim_count("command AT+LVER"), 1);
    QVERIFY(s->port_released());
    QVERIFY(status_shows(*s, "02_cellular_query", true));

    // The port was closed: the same module answers the next query at once.
    query_succeeds_again(*s);
    if (QTest::currentTestFailed())
        return;
    const QString twice = port_closed + '\n' + port_closed;
    QCOMPARE(read_log_pane(*s, "03_log_pane", twice), twice);
    // Back on the first tab, the result still shows.
    QVERIFY(status_shows(*s, "02_cellular_query", true));
}

void OperatorE2eTest::audio_replacement_delivers_the_image()
{
    // 32 blocks, the last one partly padding; the image's own last byte is
    // not the padding byte, so stripping the padding gives the image back.
    QByteArray image(31 * 1024 + 700, '\0');
    QRandomGenerator(20250102).fillRange(reinterpret_cast<quint32 *>(image.data()), image.size() / 4);
    image[image.size() - 1] = char(0x5A);
    const QString image_path = write_image(image);
    QVERIFY(!image_path.isEmpty());
    const QString saved_path = images.filePath(QStringLiteral("received.img"));
    // Paced like the real line, so that the transfer takes a few seconds.
    auto s = start_session({"--pace", "--save-image", saved_path, "--strip-padding"}, image_path);
    QVERIFY(s);
    const int from = start_operation(*s, audio);
    QVERIFY(from >= 0);

    // During the transfer: the port is held, the controls are off and a
    // second click on the button starts nothing.
    QVERIFY2(s->sim->wait_for_log(": ok, ACK", 10000), s->sim->stderr_log().constData());
    QVERIFY(s->tool.holds(s->sim->device_path()));
    QVERIFY(s->tool.shows_in_order({button_disabled, controls_disabled}, from));
    QCOMPARE(s->tool.count(controls_enabled, from), 0);
    QVERIFY(display.click(s->window, s->action_button));
    QVERIFY(display.click(s->window, operation_selector));
    QVERIFY(status_shows(*s, "04_audio_replacement_running", true));
    // By the time the picture showed, an enabled selector would have opened
    // its list; and all of it happened before the transfer ended.
    QCOMPARE(display.visible_windows(s->tool.pid()).size(), 1);
    QVERIFY(!s->sim->stderr_log().contains("EOT"));

    QVERIFY(s->tool.wait_for(controls_enabled, from, 20000) >= 0);
    QVERIFY(s->tool.shows_in_order(
        {query_ok, status("音频文件下载中"), status("下载成功"), controls_enabled}, from));
    QCOMPARE(s->tool.count(port_opened, from), 1);
    QCOMPARE(s->tool.count(button_disabled, from), 1);
    QCOMPARE(s->tool.count(controls_enabled, from), 1);

    QVERIFY(s->sim->wait_for_log("image saved", 5000));
    QCOMPARE(s->sim_count("command AT+INFO"), 1);
    QCOMPARE(s->sim_count("command AT+XUPDATE"), 1);
    QFile received(saved_path);
    QVERIFY(received.open(QIODevice::ReadOnly));
    QVERIFY(received.readAll() == image);
    check_ended(*s, "05_audio_replacement_done", "05_audio_replacement_log", true, "xmodem transfer OK\n" + port_closed);
}

void OperatorE2eTest::no_reply_shows_query_failure()
{
    // Silent for the five attempts of one query, then answering again.
    auto s = start_session({"--no-reply", "--fault-times", "5"});
    QVERIFY(s);
    const int from = run_operation(*s, query, {button_disabled, controls_disabled, status("设备信息读取中"),
                                               controls_enabled, status("设备信息获取失败", "red")});
    QVERIFY(from >= 0);
    QCOMPARE(s->tool.count("field: ", from), 0);
    QCOMPARE(s->sim_count("command AT+INFO -> no reply"), 5);
    check_ended(*s, "06_no_reply", "06_no_reply_log", false, port_closed);
}

void OperatorE2eTest::transfer_error_shows_download_failure()
{
    const QString image_path = write_image(QByteArray(5 * 1024, 'a'));
    QVERIFY(!image_path.isEmpty());
    // The second block is refused as often as the sender tries it.
    auto s = start_session({"--nak-block", "2", "--nak-times", "5"}, image_path);
    QVERIFY(s);
    const int from = run_operation(*s, audio, {button_disabled, controls_disabled, status("音频文件下载中"),
                                               status("传输错误", "red"), controls_enabled, download_failed});
    QVERIFY(from >= 0);
    QCOMPARE(s->tool.count(status("下载成功"), from), 0);
    QVERIFY(s->sim->stderr_log().contains("NAK on purpose (5 of 5)"));
    QVERIFY(!s->sim->stderr_log().contains("EOT"));
    check_ended(*s, "07_transfer_error", "07_transfer_error_log", false, "xmodem transmit error:-4\n" + port_closed);
}

void OperatorE2eTest::missing_image_shows_download_failure()
{
    const QString missing = QStringLiteral("/nonexistent/kv20/sound.img");
    auto s = start_session({}, missing);
    QVERIFY(s);
    const int from = run_operation(*s, audio, {button_disabled, controls_disabled, "open: \"" + missing.toUtf8() + "\"",
                                               status("未发现软件", "red"), controls_enabled, download_failed});
    QVERIFY(from >= 0);
    // The module was queried but never asked to download.
    QCOMPARE(s->sim_count("command AT+INFO"), 1);
    QCOMPARE(s->sim_count("AT+XUPDATE"), 0);
    check_ended(*s, "08_missing_image", "08_missing_image_log", false, "firmware not found!\n" + port_closed);
}

void OperatorE2eTest::english_form()
{
    // Run on its own, it takes the Chinese form's picture first.
    if (chinese_start.isNull())
        QVERIFY(start_session({}, {}, "01_start"));
    QVERIFY(!chinese_start.isNull());
    auto s = start_session({}, {}, "09_english_form_start", true);
    QVERIFY(s);
    QVERIFY(run_operation(*s, query, {query_ok, controls_enabled}) >= 0);
    QVERIFY(s->port_released());
    QVERIFY(status_shows(*s, "09_english_form", true));
    // The catalogue changed the tab titles: the tab bar of the start state is
    // drawn differently from the Chinese one.
    const QRect tab_bar(0, 0, s->start_picture.width(), 40);
    QCOMPARE(s->start_picture.size(), chinese_start.size());
    QVERIFY(s->start_picture.copy(tab_bar) != chinese_start.copy(tab_bar));
}

void OperatorE2eTest::closing_the_window_during_a_transfer()
{
    // About 9 s on the paced line: the window is closed in the middle.
    const QString image_path = write_image(QByteArray(100 * 1024, 'k'));
    QVERIFY(!image_path.isEmpty());
    auto s = start_session({"--pace"}, image_path);
    QVERIFY(s);
    const int from = start_operation(*s, audio);
    QVERIFY(from >= 0);
    QVERIFY(s->tool.wait_for(status("音频文件下载中"), from, 5000) >= 0);
    QVERIFY(s->sim->wait_for_log("block 2 ", 5000));

    // Escape closes the dialog, the last window: the application ends.
    QElapsedTimer timer;
    timer.start();
    QVERIFY(display.focus(s->window));
    QVERIFY(display.keys({"Escape"}));
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
    if (argc == 2 && qstrcmp(argv[1], "--print-x-selection") == 0) {
        // Second role: print the X primary selection (what the log pane has
        // selected).
        qputenv("QT_QPA_PLATFORM", "xcb");
        QGuiApplication app(argc, argv);
        QTextStream(stdout) << QGuiApplication::clipboard()->text(QClipboard::Selection);
        return 0;
    }
    QCoreApplication app(argc, argv);
    OperatorE2eTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_operator_e2e.moc"
