// The real window on the offscreen platform: its state after start, the
// display slots, and whole operations against a module found through a
// fabricated sysfs tree and played on a real pty.
#include "app/dialog.h"
#include "tests/discovery/fake_sysfs.h"
#include "tests/support/scripted_module.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QtTest>

namespace {
const QString green = QStringLiteral("color: rgb(0, 255, 0);");
const QString red = QStringLiteral("color: rgb(255, 0, 0);");
}

class DialogTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void start_state_without_module();
    void saved_paths_come_from_working_directory();
    void display_slots();
    void click_without_port_fails_to_open();
    void module_found_at_start_switches_to_cellular();
    void cellular_query_through_the_window();
    void failed_query_through_the_window();
    void closing_during_a_conversation_is_prompt();
    void module_plugged_in_later_then_replugged();

private:
    template<typename T> T *widget(const char *name)
    {
        T *w = dialog->findChild<T *>(QLatin1String(name));
        if (!w)
            qFatal("no widget %s", name);
        return w;
    }
    void add_module_port(const QString &pty_path);
    bool wait_until(const std::function<bool()> &done, int timeout_ms);

    std::unique_ptr<QTemporaryDir> work_dir;
    std::unique_ptr<FakeSysfs> sysfs;
    std::unique_ptr<Dialog> dialog;
    QString previous_dir;
};

void DialogTest::init()
{
    previous_dir = QDir::currentPath();
    work_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(QDir::setCurrent(work_dir->path()));
    sysfs = std::make_unique<FakeSysfs>();
    QVERIFY(sysfs->ok());
    qputenv("KV20_SYSFS_ROOT", sysfs->root().toLocal8Bit());
}

void DialogTest::cleanup()
{
    dialog.reset();
    QDir::setCurrent(previous_dir);
    sysfs.reset();
    work_dir.reset();
}

void DialogTest::add_module_port(const QString &pty_path)
{
    FakeSysfs::UsbTty tty;
    tty.tty = QStringLiteral("ttyACM0");
    tty.devname = QString(pty_path).remove(QStringLiteral("/dev/"));
    QVERIFY(sysfs->add_usb_tty(tty));
}

bool DialogTest::wait_until(const std::function<bool()> &done, int timeout_ms)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeout_ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    }
    return true;
}

void DialogTest::start_state_without_module()
{
    dialog = std::make_unique<Dialog>();
    QVERIFY(QRegularExpression(QStringLiteral("^云音箱音频替换及固件升级工具 V1\\.15 [A-Z][a-z]{2} [ 123]\\d \\d{4}$"))
                .match(dialog->windowTitle())
                .hasMatch());
    QCOMPARE(widget<QLabel>("status")->text(), QStringLiteral("就绪"));
    QCOMPARE(widget<QLabel>("status")->styleSheet(), green);
    QCOMPARE(widget<QTabWidget>("tabWidget")->currentIndex(), 0);
    QCOMPARE(widget<QProgressBar>("xmodem_progress")->value(), 0);
    for (const char *field : {"deviceSN", "ap_mac", "v_version", "sta_mac", "path_fw", "path_fs"})
        QVERIFY2(widget<QLineEdit>(field)->text().isEmpty(), field);
    auto *speed = widget<QComboBox>("speed");
    QCOMPARE(speed->count(), 3);
    QCOMPARE(speed->currentText(), QStringLiteral("音频更换"));
    QCOMPARE(widget<QComboBox>("setting_port")->count(), 0);
    QCOMPARE(widget<QLabel>("label_2")->text(), QStringLiteral("MAC 地址："));
    // Only a close button (Qt itself adds the title bar and system menu).
    QVERIFY(dialog->windowFlags() & Qt::WindowCloseButtonHint);
    QVERIFY(!(dialog->windowFlags() & (Qt::WindowMinMaxButtonsHint | Qt::WindowContextHelpButtonHint)));
    dialog.reset();
    // Nothing was chosen, so nothing was written.
    QVERIFY(!QFile::exists(QStringLiteral("config.ini")));
}

void DialogTest::saved_paths_come_from_working_directory()
{
    QFile ini(QStringLiteral("config.ini"));
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write("[General]\nfw.img_path=/images/fw 1.bin\nfs.img_path=/images/sound.img\n");
    ini.close();
    dialog = std::make_unique<Dialog>();
    QCOMPARE(widget<QLineEdit>("path_fw")->text(), QStringLiteral("/images/fw 1.bin"));
    QCOMPARE(widget<QLineEdit>("path_fs")->text(), QStringLiteral("/images/sound.img"));
}

void DialogTest::display_slots()
{
    dialog = std::make_unique<Dialog>();
    dialog->ui_set_mac_text(QStringLiteral("mac"), 0);
    dialog->ui_set_mac_text(QStringLiteral("ver"), 1);
    dialog->ui_set_mac_text(QStringLiteral("snd"), 2);
    dialog->ui_set_mac_text(QStringLiteral("sn3"), 3);
    QCOMPARE(widget<QLineEdit>("ap_mac")->text(), QStringLiteral("mac"));
    QCOMPARE(widget<QLineEdit>("sta_mac")->text(), QStringLiteral("ver"));
    QCOMPARE(widget<QLineEdit>("v_version")->text(), QStringLiteral("snd"));
    QCOMPARE(widget<QLineEdit>("deviceSN")->text(), QStringLiteral("sn3"));
    dialog->ui_set_mac_text(QStringLiteral("sn200"), 200);
    QCOMPARE(widget<QLineEdit>("deviceSN")->text(), QStringLiteral("sn200"));
    dialog->ui_set_mac_text(QString(), 0);
    QCOMPARE(widget<QLineEdit>("ap_mac")->text(), QString());
    QCOMPARE(widget<QLineEdit>("sta_mac")->text(), QStringLiteral("ver"));

    auto *status = widget<QLabel>("status");
    dialog->set_main_info(QStringLiteral("传输错误"), false);
    QCOMPARE(status->styleSheet(), red);
    QCOMPARE(status->text(), QStringLiteral("传输错误"));
    dialog->set_main_info(QStringLiteral("下载成功"), true);
    QCOMPARE(status->styleSheet(), green);

    auto *bar = widget<QProgressBar>("xmodem_progress");
    dialog->ui_set_progress_max(5000);
    dialog->ui_set_progress(4096);
    dialog->ui_set_progress(5120);  // past the image size: the bar ignores it
    QCOMPARE(bar->value(), 4096);
    dialog->burn_done(false);
    QCOMPARE(bar->value(), 4096);
    QCOMPARE(bar->maximum(), 5000);
    dialog->burn_done(true);
    QCOMPARE(bar->maximum(), 1);
    QCOMPARE(bar->value(), 1);

    dialog->ui_debug(QStringLiteral("line one"));
    dialog->ui_debug(QStringLiteral("line two"));
    QVERIFY(widget<QPlainTextEdit>("debug_box")->toPlainText().endsWith(QStringLiteral("line one\nline two")));

    dialog->burn_show(false);
    for (const char *w : {"burn", "speed", "setting_port"})
        QVERIFY(!widget<QWidget>(w)->isEnabled());
    dialog->mac_done(true);
    QVERIFY(!widget<QWidget>("burn")->isEnabled());
    QCOMPARE(status->text(), QStringLiteral("设备信息获取成功"));
    dialog->mac_done(false);
    for (const char *w : {"burn", "speed", "setting_port"})
        QVERIFY(widget<QWidget>(w)->isEnabled());
    QCOMPARE(status->text(), QStringLiteral("设备信息获取失败"));
    QCOMPARE(status->styleSheet(), red);
    // mac_done(false) asked the worker to close the port.
    QVERIFY(widget<QPlainTextEdit>("debug_box")->toPlainText().endsWith(QStringLiteral("close serial port")));
}

void DialogTest::click_without_port_fails_to_open()
{
    dialog = std::make_unique<Dialog>();
    widget<QLineEdit>("deviceSN")->setText(QStringLiteral("keep"));
    QTest::mouseClick(widget<QPushButton>("burn"), Qt::LeftButton);
    QCOMPARE(widget<QLabel>("status")->text(), QStringLiteral("串口打开失败"));
    QCOMPARE(widget<QLabel>("status")->styleSheet(), red);
    QVERIFY(widget<QPushButton>("burn")->isEnabled());
    QCOMPARE(widget<QLineEdit>("deviceSN")->text(), QStringLiteral("keep"));
    QVERIFY(widget<QPlainTextEdit>("debug_box")->toPlainText().isEmpty());
}

void DialogTest::module_found_at_start_switches_to_cellular()
{
    ScriptedModule module;
    add_module_port(module.port());
    dialog = std::make_unique<Dialog>();
    auto *ports = widget<QComboBox>("setting_port");
    QCOMPARE(ports->count(), 1);
    QCOMPARE(ports->currentText(), QString(module.port()).remove(QStringLiteral("/dev/")));
    QCOMPARE(widget<QLabel>("label_2")->text(), QStringLiteral("IMEI号："));
    QCOMPARE(widget<QLabel>("label_4")->text(), QStringLiteral("ICCID号："));
    auto *speed = widget<QComboBox>("speed");
    QCOMPARE(speed->count(), 2);
    QCOMPARE(speed->itemText(0), QStringLiteral("音频更换"));
    QCOMPARE(speed->itemText(1), QStringLiteral("设备查询"));
}

void DialogTest::cellular_query_through_the_window()
{
    ScriptedModule module;
    module.reply("AT+INFO", "+ok=KV2000017,861234567890123,89860012345678901234\r\n");
    module.reply("AT+LVER", "+ok=CAT1-V1.15\r\n");
    add_module_port(module.port());
    dialog = std::make_unique<Dialog>();
    widget<QLineEdit>("sta_mac")->setText(QStringLiteral("stale"));
    widget<QComboBox>("speed")->setCurrentText(QStringLiteral("设备查询"));
    auto *burn = widget<QPushButton>("burn");
    QTest::mouseClick(burn, Qt::LeftButton);
    // The click cleared the old version and disabled the button at once.
    QVERIFY(!burn->isEnabled());
    QCOMPARE(widget<QLineEdit>("sta_mac")->text(), QString());
    QVERIFY(wait_until([&] { return burn->isEnabled(); }, 3000));
    QCOMPARE(module.commands(), QList<QByteArray>({"AT+INFO", "AT+LVER"}));
    QCOMPARE(widget<QLineEdit>("deviceSN")->text(), QStringLiteral("KV2000017"));
    QCOMPARE(widget<QLineEdit>("ap_mac")->text(), QStringLiteral("861234567890123"));
    QCOMPARE(widget<QLineEdit>("v_version")->text(), QStringLiteral("89860012345678901234\r\n"));
    QCOMPARE(widget<QLineEdit>("sta_mac")->text(), QStringLiteral("CAT1-V1.15"));
    QCOMPARE(widget<QLabel>("status")->text(), QStringLiteral("设备信息获取成功"));
    QCOMPARE(widget<QLabel>("status")->styleSheet(), green);
    // A query alone leaves the bar at 0 of 1 and closes the port.
    QCOMPARE(widget<QProgressBar>("xmodem_progress")->value(), 0);
    QVERIFY(widget<QPlainTextEdit>("debug_box")->toPlainText().endsWith(QStringLiteral("close serial port")));
    // The port can be used again by the next click.
    QTest::mouseClick(burn, Qt::LeftButton);
    QVERIFY(wait_until([&] { return burn->isEnabled(); }, 3000));
    QCOMPARE(module.commands().size(), 4);
}

void DialogTest::failed_query_through_the_window()
{
    ScriptedModule module;  // silent: five attempts of 200 ms
    add_module_port(module.port());
    dialog = std::make_unique<Dialog>();
    widget<QComboBox>("speed")->setCurrentText(QStringLiteral("设备查询"));
    auto *burn = widget<QPushButton>("burn");
    QTest::mouseClick(burn, Qt::LeftButton);
    QVERIFY(wait_until([&] { return burn->isEnabled(); }, 5000));
    QCOMPARE(module.commands().size(), 5);
    QCOMPARE(widget<QLabel>("status")->text(), QStringLiteral("设备信息获取失败"));
    QCOMPARE(widget<QLabel>("status")->styleSheet(), red);
    QVERIFY(widget<QComboBox>("speed")->isEnabled());
}

void DialogTest::closing_during_a_conversation_is_prompt()
{
    ScriptedModule module;
    add_module_port(module.port());
    dialog = std::make_unique<Dialog>();
    QTest::mouseClick(widget<QPushButton>("burn"), Qt::LeftButton);
    QVERIFY(wait_until([&] { return !widget<QComboBox>("speed")->isEnabled(); }, 1000));
    QElapsedTimer timer;
    timer.start();
    dialog.reset();
    QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
}

namespace {
QStringList captured_traces;
void capture_trace(QtMsgType, const QMessageLogContext &, const QString &message)
{
    captured_traces << message;
}
}

void DialogTest::module_plugged_in_later_then_replugged()
{
    const QString fifo = work_dir->filePath("device-events");
    qputenv("KV20_DEVICE_EVENT_FIFO", fifo.toLocal8Bit());
    dialog = std::make_unique<Dialog>();
    qunsetenv("KV20_DEVICE_EVENT_FIFO");
    auto *ports = widget<QComboBox>("setting_port");
    QCOMPARE(ports->count(), 0);

    captured_traces.clear();
    const QtMessageHandler previous = qInstallMessageHandler(capture_trace);
    const auto announce = [&](const char *line) {
        QFile events(fifo);
        if (events.open(QIODevice::WriteOnly))
            events.write(QByteArray(line) + "\n");
    };
    const auto traced = [&](const QString &line) { return captured_traces.contains(line); };

    // A notification before the module's tty exists changes nothing.
    announce("add");
    const bool first_seen = wait_until([&] { return traced(QStringLiteral("DBT_DEVICEARRIVAL")); }, 3000);
    const int after_first = ports->count();

    ScriptedModule module;
    add_module_port(module.port());
    captured_traces.clear();
    announce("add");
    const bool found = wait_until([&] { return ports->count() > 0; }, 3000);
    const QStringList arrival = captured_traces;

    // Unplug and replug: traces only, the selector keeps what it has.
    captured_traces.clear();
    announce("remove-volume");
    announce("remove");
    announce("add");
    const bool replug_seen = wait_until([&] { return captured_traces.count(QStringLiteral("DBT_DEVICEARRIVAL")) == 1; }, 3000);
    qInstallMessageHandler(previous);

    QVERIFY(first_seen);
    QCOMPARE(after_first, 0);
    QVERIFY(found);
    QCOMPARE(arrival.first(), QStringLiteral("Recv Event  32768"));
    QVERIFY(arrival.contains(QStringLiteral("DBT_DEVICEARRIVAL")));
    QCOMPARE(ports->count(), 1);
    QCOMPARE(widget<QLabel>("label_2")->text(), QStringLiteral("IMEI号："));
    QCOMPARE(widget<QComboBox>("speed")->count(), 2);
    QVERIFY(replug_seen);
    QCOMPARE(ports->count(), 1);
    // A removed volume traces "USB_delete" before the removal itself.
    const int usb_delete = captured_traces.indexOf(QStringLiteral("USB_delete"));
    QVERIFY(usb_delete >= 0);
    QCOMPARE(captured_traces.at(usb_delete + 1), QStringLiteral("DBT_DEVICEREMOVECOMPLETE"));
    QCOMPARE(captured_traces.count(QStringLiteral("DBT_DEVICEREMOVECOMPLETE")), 2);
    QCOMPARE(captured_traces.count(QStringLiteral("USB_delete")), 1);
}

QTEST_MAIN(DialogTest)
#include "tst_dialog.moc"
