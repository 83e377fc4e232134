// The operator's three buttons on the real window (offscreen): the request
// the action button sends for each operation, what a successful click resets,
// and the two image choosers with the paths they remember in config.ini.
#include "app/dialog.h"
#include "tests/discovery/fake_sysfs.h"
#include "tests/support/scripted_module.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <functional>
#include <memory>

namespace {

struct SentRequest
{
    flash_parameter param;
    quint8 type;
};

// What the file chooser looked like while it was open.
struct ChooserSeen
{
    bool found = false;
    QString caption;
    QStringList name_filters;
    QString directory;
    QStringList preselected;
    bool modal = false;
    QStringList unexpected;
};

QByteArray file_bytes(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

bool write_file(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    return file.write(bytes) == bytes.size();
}

} // namespace

class OperatorActionsTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void request_record_and_type_per_operation_data();
    void request_record_and_type_per_operation();
    void click_resets_progress_and_clears_three_fields();
    void click_without_port_sends_no_request();
    void chooser_accepted_fills_field_and_config_data();
    void chooser_accepted_fills_field_and_config();
    void chooser_cancelled_changes_nothing_data();
    void chooser_cancelled_changes_nothing();
    void typed_path_is_sent_but_not_remembered();

private:
    template<typename T> T *widget(const char *name)
    {
        T *w = dialog->findChild<T *>(QLatin1String(name));
        if (!w)
            qFatal("no widget %s", name);
        return w;
    }
    void start_with_module();
    void start_dialog();
    bool wait_until(const std::function<bool()> &done, int timeout_ms);
    bool wait_for_idle_window();
    // Clicks a chooser button; while its modal file dialog is open, records
    // what it shows and then either selects `choose` and accepts, or cancels
    // when `choose` is empty.
    ChooserSeen run_chooser(const char *button, const QString &choose);

    std::unique_ptr<QTemporaryDir> work_dir;
    std::unique_ptr<FakeSysfs> sysfs;
    std::unique_ptr<ScriptedModule> module;
    std::unique_ptr<Dialog> dialog;
    QList<SentRequest> sent;
    QString previous_dir;
};

void OperatorActionsTest::init()
{
    previous_dir = QDir::currentPath();
    work_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(work_dir->isValid());
    QVERIFY(QDir::setCurrent(work_dir->path()));
    sysfs = std::make_unique<FakeSysfs>();
    QVERIFY(sysfs->ok());
    qputenv("KV20_SYSFS_ROOT", sysfs->root().toLocal8Bit());
    sent.clear();
}

void OperatorActionsTest::cleanup()
{
    dialog.reset();
    module.reset();
    QDir::setCurrent(previous_dir);
    sysfs.reset();
    work_dir.reset();
}

// A cellular module on a pty that answers the query at once, listed in the
// fabricated sysfs tree so that the window finds it at start.
void OperatorActionsTest::start_with_module()
{
    module = std::make_unique<ScriptedModule>();
    module->reply("AT+INFO", "+ok=KV2000042,861234567890042,89860012345678900042\r\n");
    module->reply("AT+LVER", "+ok=CAT1-V1.15\r\n");
    FakeSysfs::UsbTty tty;
    tty.tty = QStringLiteral("ttyACM0");
    tty.devname = QString(module->port()).remove(QStringLiteral("/dev/"));
    QVERIFY(sysfs->add_usb_tty(tty));
    start_dialog();
    QCOMPARE(widget<QComboBox>("setting_port")->count(), 1);
}

void OperatorActionsTest::start_dialog()
{
    dialog = std::make_unique<Dialog>();
    // Direct, like the worker's own connection: the record is not a
    // registered meta-type, and the emit must be seen before the click returns.
    connect(dialog.get(), &Dialog::__start_flash, this,
            [this](flash_parameter param, quint8 type) { sent.append({param, type}); }, Qt::DirectConnection);
}

bool OperatorActionsTest::wait_until(const std::function<bool()> &done, int timeout_ms)
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

// The worker has ended the operation: the controls are back.
bool OperatorActionsTest::wait_for_idle_window()
{
    return wait_until([this] { return widget<QComboBox>("speed")->isEnabled() && widget<QPushButton>("burn")->isEnabled(); },
                      5000);
}

void OperatorActionsTest::request_record_and_type_per_operation_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<bool>("put_back");
    QTest::addColumn<int>("type");
    QTest::newRow("device query") << QStringLiteral("设备查询") << false << 0;
    QTest::newRow("audio replacement") << QStringLiteral("音频更换") << false << 1;
    QTest::newRow("firmware upgrade") << QStringLiteral("固件升级") << true << 2;
    // The comparison is exact: a near miss is not a query.
    QTest::newRow("query with a trailing blank") << QStringLiteral("设备查询 ") << true << 2;
    QTest::newRow("audio replacement with a trailing blank") << QStringLiteral("音频更换 ") << true << 2;
}

void OperatorActionsTest::request_record_and_type_per_operation()
{
    QFETCH(QString, operation);
    QFETCH(bool, put_back);
    QFETCH(int, type);
    start_with_module();
    auto *speed = widget<QComboBox>("speed");
    if (put_back) {
        // The cellular list has no such item; an operator of an older form
        // would still have it.
        QCOMPARE(speed->findText(operation), -1);
        speed->addItem(operation);
    }
    speed->setCurrentText(operation);
    QCOMPARE(speed->currentText(), operation);
    const QString fw = work_dir->filePath(QStringLiteral("missing-fw.bin"));
    const QString fs = work_dir->filePath(QStringLiteral("missing-sound.img"));
    widget<QLineEdit>("path_fw")->setText(fw);
    widget<QLineEdit>("path_fs")->setText(fs);

    QTest::mouseClick(widget<QPushButton>("burn"), Qt::LeftButton);
    QCOMPARE(sent.size(), 1);
    const flash_parameter &p = sent.first().param;
    QCOMPARE(int(sent.first().type), type);
    QCOMPARE(p.fw_addr, QStringLiteral("20000"));
    QCOMPARE(p.fw_size, QStringLiteral("80000"));
    QCOMPARE(p.fw_path, fw);
    QCOMPARE(p.fs_addr, QStringLiteral("A0000"));
    QCOMPARE(p.fs_size, QStringLiteral("40000"));
    QCOMPARE(p.fs_path, fs);
    QCOMPARE(p.extra1, QString());
    QCOMPARE(p.extra2, QString());

    // The worker got the same request: a query asks the module, a download
    // of a missing image never gets as far as the download command.
    QVERIFY(wait_for_idle_window());
    const QList<QByteArray> commands = module->commands();
    QCOMPARE(commands.value(0), QByteArray("AT+INFO"));
    QVERIFY2(!commands.contains("AT+XUPDATE") && !commands.contains("AT+FOTA"), commands.join(' ').constData());
    const QString status = widget<QLabel>("status")->text();
    if (type == 0)
        QCOMPARE(status, QStringLiteral("设备信息获取成功"));
    else
        QCOMPARE(status, QStringLiteral("下载失败"));
}

void OperatorActionsTest::click_resets_progress_and_clears_three_fields()
{
    start_with_module();
    auto *bar = widget<QProgressBar>("xmodem_progress");
    dialog->ui_set_progress_max(5000);
    dialog->ui_set_progress(3072);
    QCOMPARE(bar->value(), 3072);
    widget<QLineEdit>("deviceSN")->setText(QStringLiteral("SN-kept"));
    widget<QLineEdit>("ap_mac")->setText(QStringLiteral("old imei"));
    widget<QLineEdit>("sta_mac")->setText(QStringLiteral("old version"));
    widget<QLineEdit>("v_version")->setText(QStringLiteral("old iccid"));
    widget<QComboBox>("speed")->setCurrentText(QStringLiteral("设备查询"));

    QTest::mouseClick(widget<QPushButton>("burn"), Qt::LeftButton);
    // Right after the click, before any report of the worker is delivered.
    QCOMPARE(sent.size(), 1);
    QVERIFY(!widget<QPushButton>("burn")->isEnabled());
    QCOMPARE(bar->minimum(), 0);
    QCOMPARE(bar->maximum(), 1);
    QCOMPARE(bar->value(), 0);
    QCOMPARE(widget<QLineEdit>("ap_mac")->text(), QString());
    QCOMPARE(widget<QLineEdit>("sta_mac")->text(), QString());
    QCOMPARE(widget<QLineEdit>("v_version")->text(), QString());
    QCOMPARE(widget<QLineEdit>("deviceSN")->text(), QStringLiteral("SN-kept"));

    // The query then refills all four and leaves the bar alone.
    QVERIFY(wait_for_idle_window());
    QCOMPARE(widget<QLineEdit>("deviceSN")->text(), QStringLiteral("KV2000042"));
    QCOMPARE(widget<QLineEdit>("sta_mac")->text(), QStringLiteral("CAT1-V1.15"));
    QCOMPARE(bar->value(), 0);
    QCOMPARE(bar->maximum(), 1);
}

void OperatorActionsTest::click_without_port_sends_no_request()
{
    start_dialog();
    QCOMPARE(widget<QComboBox>("setting_port")->count(), 0);
    auto *bar = widget<QProgressBar>("xmodem_progress");
    dialog->ui_set_progress(40);
    widget<QLineEdit>("ap_mac")->setText(QStringLiteral("kept"));
    QTest::mouseClick(widget<QPushButton>("burn"), Qt::LeftButton);
    QVERIFY(sent.isEmpty());
    QCOMPARE(widget<QLabel>("status")->text(), QStringLiteral("串口打开失败"));
    QCOMPARE(bar->value(), 40);
    QCOMPARE(bar->maximum(), 100);
    QCOMPARE(widget<QLineEdit>("ap_mac")->text(), QStringLiteral("kept"));
    // It may be tried again at once.
    QVERIFY(widget<QPushButton>("burn")->isEnabled());
    QTest::mouseClick(widget<QPushButton>("burn"), Qt::LeftButton);
    QVERIFY(sent.isEmpty());
}

ChooserSeen OperatorActionsTest::run_chooser(const char *button, const QString &choose)
{
    ChooserSeen seen;
    QElapsedTimer timer;
    timer.start();
    QTimer poll;
    poll.setInterval(20);
    connect(&poll, &QTimer::timeout, this, [&] {
        QWidget *modal = QApplication::activeModalWidget();
        if (timer.elapsed() > 5000) {
            // Never leave the test hanging in a modal loop.
            poll.stop();
            if (modal)
                modal->close();
            return;
        }
        auto *chooser = qobject_cast<QFileDialog *>(modal);
        if (!modal || (seen.found && chooser))
            return;
        if (!chooser) {
            // The chooser complained (or something else popped up): note it
            // and get out of its loop, so the test fails instead of hanging.
            seen.unexpected << modal->windowTitle();
            modal->close();
            return;
        }
        seen.found = true;
        seen.caption = chooser->windowTitle();
        seen.name_filters = chooser->nameFilters();
        seen.directory = chooser->directory().absolutePath();
        seen.preselected = chooser->selectedFiles();
        seen.modal = chooser->isModal();
        if (choose.isEmpty()) {
            chooser->reject();
            return;
        }
        // As the operator does: the full path typed into the file name box.
        auto *name_box = chooser->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        if (!name_box) {
            seen.unexpected << QStringLiteral("no file name box");
            chooser->reject();
            return;
        }
        name_box->clear();
        QTest::keyClicks(name_box, choose);
        // QFileDialog hides its override (which checks the file exists)
        // behind the public QDialog slot.
        static_cast<QDialog *>(chooser)->accept();
    });
    poll.start();
    QTest::mouseClick(widget<QPushButton>(button), Qt::LeftButton);
    poll.stop();
    return seen;
}

void OperatorActionsTest::chooser_accepted_fills_field_and_config_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("other_key");
    QTest::newRow("firmware") << "choose_fw" << "path_fw" << "fw.img_path" << "fs.img_path";
    QTest::newRow("audio") << "choose_fs" << "path_fs" << "fs.img_path" << "fw.img_path";
}

void OperatorActionsTest::chooser_accepted_fills_field_and_config()
{
    QFETCH(QString, button);
    QFETCH(QString, field);
    QFETCH(QString, key);
    QFETCH(QString, other_key);
    QDir work(work_dir->path());
    QVERIFY(work.mkpath(QStringLiteral("old")) && work.mkpath(QStringLiteral("new")));
    const QString old_path = work.filePath(QStringLiteral("old/previous.bin"));
    const QString new_path = work.filePath(QStringLiteral("new/chosen.img"));
    QVERIFY(write_file(old_path, "old image"));
    QVERIFY(write_file(new_path, "new image"));
    const QString other_path = QStringLiteral("/elsewhere/other.bin");
    {
        QSettings ini(QStringLiteral("config.ini"), QSettings::IniFormat);
        ini.setValue(key, old_path);
        ini.setValue(other_key, other_path);
    }

    start_dialog();
    auto *path_field = widget<QLineEdit>(field.toLatin1().constData());
    QCOMPARE(path_field->text(), old_path);
    const ChooserSeen seen = run_chooser(button.toLatin1().constData(), new_path);
    QVERIFY(seen.found);
    QVERIFY2(seen.unexpected.isEmpty(), qPrintable(seen.unexpected.join(QLatin1Char(','))));
    QVERIFY(seen.modal);
    QCOMPARE(seen.caption, QStringLiteral("Open Image"));
    QCOMPARE(seen.name_filters, QStringList {QStringLiteral("Files(*.img *.bin)")});
    // It opens where the field points.
    QCOMPARE(seen.directory, QFileInfo(old_path).absolutePath());
    QCOMPARE(seen.preselected, QStringList {old_path});
    QCOMPARE(path_field->text(), new_path);

    // Closing the window writes the remembered path out.
    dialog.reset();
    const QByteArray on_disk = file_bytes(work.filePath(QStringLiteral("config.ini")));
    QVERIFY2(on_disk.contains((key + QLatin1Char('=') + new_path).toUtf8()), on_disk.constData());
    QVERIFY2(on_disk.contains((other_key + QLatin1Char('=') + other_path).toUtf8()), on_disk.constData());
    QVERIFY(!on_disk.contains(old_path.toUtf8()));

    // The next start shows it.
    start_dialog();
    QCOMPARE(widget<QLineEdit>(field.toLatin1().constData())->text(), new_path);
}

void OperatorActionsTest::chooser_cancelled_changes_nothing_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("field");
    QTest::newRow("firmware") << "choose_fw" << "path_fw";
    QTest::newRow("audio") << "choose_fs" << "path_fs";
}

void OperatorActionsTest::chooser_cancelled_changes_nothing()
{
    QFETCH(QString, button);
    QFETCH(QString, field);
    const QString ini_path = work_dir->filePath(QStringLiteral("config.ini"));
    const QByteArray before = "[General]\nfw.img_path=/images/fw.bin\nfs.img_path=/images/sound.img\n";
    QVERIFY(write_file(ini_path, before));

    start_dialog();
    auto *path_field = widget<QLineEdit>(field.toLatin1().constData());
    const QString shown = path_field->text();
    QVERIFY(shown.startsWith(QStringLiteral("/images/")));
    const ChooserSeen seen = run_chooser(button.toLatin1().constData(), QString());
    QVERIFY(seen.found);
    QVERIFY2(seen.unexpected.isEmpty(), qPrintable(seen.unexpected.join(QLatin1Char(','))));
    QCOMPARE(seen.caption, QStringLiteral("Open Image"));
    QCOMPARE(path_field->text(), shown);

    dialog.reset();
    QCOMPARE(file_bytes(ini_path), before);
}

void OperatorActionsTest::typed_path_is_sent_but_not_remembered()
{
    const QString ini_path = work_dir->filePath(QStringLiteral("config.ini"));
    const QString chosen = work_dir->filePath(QStringLiteral("chosen.img"));
    {
        QSettings ini(ini_path, QSettings::IniFormat);
        ini.setValue(QStringLiteral("fs.img_path"), chosen);
    }
    const QByteArray before = file_bytes(ini_path);
    QVERIFY(before.contains(chosen.toUtf8()));

    start_with_module();
    auto *path_fs = widget<QLineEdit>("path_fs");
    QCOMPARE(path_fs->text(), chosen);
    const QString typed = work_dir->filePath(QStringLiteral("typed.img"));
    path_fs->selectAll();
    QTest::keyClicks(path_fs, typed);
    QCOMPARE(path_fs->text(), typed);

    widget<QComboBox>("speed")->setCurrentText(QStringLiteral("音频更换"));
    QTest::mouseClick(widget<QPushButton>("burn"), Qt::LeftButton);
    QCOMPARE(sent.size(), 1);
    QCOMPARE(int(sent.first().type), 1);
    QCOMPARE(sent.first().param.fs_path, typed);
    // Nothing is at the typed path: the download says so.
    QVERIFY(wait_for_idle_window());
    QCOMPARE(widget<QLabel>("status")->text(), QStringLiteral("下载失败"));

    dialog.reset();
    QCOMPARE(file_bytes(ini_path), before);
    start_dialog();
    QCOMPARE(widget<QLineEdit>("path_fs")->text(), chosen);
}

QTEST_MAIN(OperatorActionsTest)
#include "tst_operator_actions.moc"
