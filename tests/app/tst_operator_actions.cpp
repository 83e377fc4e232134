// The operator's three buttons on the real window (offscreen): the request
// the action button sends for each operation, what a click resets, and the
// two image choosers with the paths they remember in config.ini.
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
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <memory>

namespace {

QByteArray file_bytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool write_file(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

class OperatorActionsTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void request_per_operation_data();
    void request_per_operation();
    void chooser_result_in_field_and_config_data();
    void chooser_result_in_field_and_config();

private:
    template<typename T> T *widget(const QString &name)
    {
        T *w = dialog->findChild<T *>(name);
        if (!w)
            qFatal("no widget %s", qPrintable(name));
        return w;
    }
    void start_dialog();
    QStringList image_paths() { return {widget<QLineEdit>("path_fw")->text(), widget<QLineEdit>("path_fs")->text()}; }
    // Clicks a chooser button, types `choose` into its file dialog and
    // accepts, or cancels when `choose` is empty. Returns what the dialog
    // showed and the title of any other window that popped up.
    QStringList run_chooser(const QString &button, const QString &choose);

    std::unique_ptr<QTemporaryDir> work_dir;
    std::unique_ptr<FakeSysfs> sysfs;
    std::unique_ptr<ScriptedModule> module;
    std::unique_ptr<Dialog> dialog;
    QList<QPair<flash_parameter, int>> sent;
    QString previous_dir;
    QStringList remembered;  // firmware and audio image paths in config.ini
    QByteArray config_before;
};

void OperatorActionsTest::init()
{
    previous_dir = QDir::currentPath();
    work_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(work_dir->isValid());
    QVERIFY(QDir::setCurrent(work_dir->path()));
    sent.clear();
    // Two images chosen earlier; config.ini written by hand with the firmware
    // path first (QSettings sorts its keys), so that any rewrite shows.
    QVERIFY(QDir::current().mkpath(QStringLiteral("old")));
    remembered = QStringList {work_dir->filePath("old/fw.bin"), work_dir->filePath("old/sound.img")};
    QVERIFY(write_file(remembered[0], "firmware") && write_file(remembered[1], "audio"));
    config_before = "[General]\nfw.img_path=" + remembered[0].toUtf8() + "\nfs.img_path=" + remembered[1].toUtf8() + "\n";
    QVERIFY(write_file(QStringLiteral("config.ini"), config_before));

    // A cellular module on a pty that answers the query, listed in the
    // fabricated sysfs tree so that the window finds it at start.
    sysfs = std::make_unique<FakeSysfs>();
    QVERIFY(sysfs->ok());
    qputenv("KV20_SYSFS_ROOT", sysfs->root().toLocal8Bit());
    module = std::make_unique<ScriptedModule>();
    module->reply("AT+INFO", "+ok=KV2000042,861234567890042,89860012345678900042\r\n");
    module->reply("AT+LVER", "+ok=CAT1-V1.15\r\n");
    FakeSysfs::UsbTty tty;
    tty.tty = QStringLiteral("ttyACM0");
    tty.devname = QString(module->port()).remove(QStringLiteral("/dev/"));
    QVERIFY(sysfs->add_usb_tty(tty));
}

void OperatorActionsTest::cleanup()
{
    dialog.reset();
    module.reset();
    QDir::setCurrent(previous_dir);
    sysfs.reset();
    work_dir.reset();
}

void OperatorActionsTest::start_dialog()
{
    dialog = std::make_unique<Dialog>();
    // Direct, like the worker's own connection: the record is not a
    // registered meta-type, and the emit must be seen before the click returns.
    connect(dialog.get(), &Dialog::__start_flash, this,
            [this](flash_parameter param, quint8 type) { sent.append({param, type}); }, Qt::DirectConnection);
}

void OperatorActionsTest::request_per_operation_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<int>("type");
    QTest::newRow("device query") << QStringLiteral("设备查询") << 0;
    QTest::newRow("audio replacement") << QStringLiteral("音频更换") << 1;
    QTest::newRow("firmware upgrade") << QStringLiteral("固件升级") << 2;
    // The comparison is exact: a near miss is not a query.
    QTest::newRow("query with a trailing blank") << QStringLiteral("设备查询 ") << 2;
    QTest::newRow("audio replacement with a trailing blank") << QStringLiteral("音频更换 ") << 2;
}

// A click with paths typed over the remembered ones: the request it sends,
// what it resets at once, what the worker then does with it, and that the
// typed paths are not remembered.
void OperatorActionsTest::request_per_operation()
{
    QFETCH(QString, operation);
    QFETCH(int, type);
    start_dialog();
    QCOMPARE(widget<QComboBox>("setting_port")->count(), 1);
    QCOMPARE(image_paths(), remembered);
    auto *speed = widget<QComboBox>("speed");
    if (speed->findText(operation) < 0)
        speed->addItem(operation);  // not in the cellular list; an older form had it
    speed->setCurrentText(operation);
    QCOMPARE(speed->currentText(), operation);
    // Nothing is at the typed paths.
    const QString fw = work_dir->filePath(QStringLiteral("typed-fw.bin"));
    const QString fs = work_dir->filePath(QStringLiteral("typed-sound.img"));
    for (const auto &typed : {qMakePair(QStringLiteral("path_fw"), fw), qMakePair(QStringLiteral("path_fs"), fs)}) {
        widget<QLineEdit>(typed.first)->selectAll();
        QTest::keyClicks(widget<QLineEdit>(typed.first), typed.second);
    }
    auto *bar = widget<QProgressBar>("xmodem_progress");
    dialog->ui_set_progress_max(5000);
    dialog->ui_set_progress(3072);
    const QStringList fields {"deviceSN", "ap_mac", "sta_mac", "v_version"};
    for (const QString &field : fields)
        widget<QLineEdit>(field)->setText(QStringLiteral("old ") + field);

    QTest::mouseClick(widget<QPushButton>("burn"), Qt::LeftButton);
    QCOMPARE(sent.size(), 1);
    QCOMPARE(sent.first().second, type);
    const flash_parameter &p = sent.first().first;
    QCOMPARE((QStringList {p.fw_addr, p.fw_size, p.fw_path, p.fs_addr, p.fs_size, p.fs_path, p.extra1, p.extra2}),
             (QStringList {"20000", "80000", fw, "A0000", "40000", fs, "", ""}));
    // Right after the click, before any report of the worker is delivered:
    // the device number stays, the other three fields are cleared.
    QVERIFY(!widget<QPushButton>("burn")->isEnabled());
    QCOMPARE(QList<int>({bar->minimum(), bar->maximum(), bar->value()}), QList<int>({0, 1, 0}));
    QStringList shown;
    for (const QString &field : fields)
        shown << widget<QLineEdit>(field)->text();
    QCOMPARE(shown, QStringList({"old deviceSN", "", "", ""}));

    // Once the controls are back, the worker has queried the module, and a
    // download of a missing image never got as far as the download command.
    QTRY_VERIFY_WITH_TIMEOUT(speed->isEnabled() && widget<QPushButton>("burn")->isEnabled(), 5000);
    const QList<QByteArray> commands = module->commands();
    QCOMPARE(commands.value(0), QByteArray("AT+INFO"));
    QVERIFY2(!commands.contains("AT+XUPDATE") && !commands.contains("AT+FOTA"), commands.join(' ').constData());
    QCOMPARE(widget<QLabel>("status")->text(), type == 0 ? QStringLiteral("设备信息获取成功") : QStringLiteral("下载失败"));

    dialog.reset();
    QCOMPARE(file_bytes(QStringLiteral("config.ini")), config_before);
    start_dialog();
    QCOMPARE(image_paths(), remembered);
}

QStringList OperatorActionsTest::run_chooser(const QString &button, const QString &choose)
{
    QStringList seen;
    QElapsedTimer timer;
    timer.start();
    QTimer poll;
    poll.setInterval(20);
    connect(&poll, &QTimer::timeout, this, [&] {
        QWidget *modal = QApplication::activeModalWidget();
        auto *chooser = qobject_cast<QFileDialog *>(modal);
        if (modal && (!chooser || timer.elapsed() > 5000)) {
            // Something else popped up, or the chooser stayed: get out of
            // its loop, so that the test fails instead of hanging.
            seen << modal->windowTitle();
            modal->close();
        }
        if (!chooser || !seen.isEmpty())
            return;
        seen << chooser->windowTitle() << chooser->nameFilters().join('|') << chooser->directory().absolutePath()
             << chooser->selectedFiles().join('|') << (chooser->isModal() ? "modal" : "modeless");
        // As the operator does: the full path typed into the file name box.
        auto *name_box = chooser->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        if (choose.isEmpty() || !name_box) {
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
    return seen;
}

void OperatorActionsTest::chooser_result_in_field_and_config_data()
{
    QTest::addColumn<int>("which");  // 0: firmware, 1: audio
    QTest::addColumn<bool>("accept");
    QTest::newRow("firmware accepted") << 0 << true;
    QTest::newRow("audio accepted") << 1 << true;
    QTest::newRow("firmware cancelled") << 0 << false;
    QTest::newRow("audio cancelled") << 1 << false;
}

void OperatorActionsTest::chooser_result_in_field_and_config()
{
    QFETCH(int, which);
    QFETCH(bool, accept);
    const QStringList image {"fw", "fs"};
    QVERIFY(QDir::current().mkpath(QStringLiteral("new")));
    const QString chosen = work_dir->filePath(QStringLiteral("new/chosen.img"));
    QVERIFY(write_file(chosen, "new image"));

    start_dialog();
    QCOMPARE(image_paths(), remembered);
    // It opens where the field points.
    QCOMPARE(run_chooser("choose_" + image[which], accept ? chosen : QString()),
             (QStringList {"Open Image", "Files(*.img *.bin)", work_dir->filePath(QStringLiteral("old")),
                           remembered[which], "modal"}));
    QStringList shown = remembered;
    if (accept)
        shown[which] = chosen;
    QCOMPARE(image_paths(), shown);

    // Closing the window writes an accepted path out, and only then; the
    // next start shows it.
    dialog.reset();
    const QByteArray on_disk = file_bytes(QStringLiteral("config.ini"));
    if (accept)
        QVERIFY2(on_disk.contains((image[which] + ".img_path=" + chosen).toUtf8())
                     && on_disk.contains((image[1 - which] + ".img_path=" + remembered[1 - which]).toUtf8())
                     && !on_disk.contains(remembered[which].toUtf8()),
                 on_disk.constData());
    else
        QCOMPARE(on_disk, config_before);
    start_dialog();
    QCOMPARE(image_paths(), shown);
}

QTEST_MAIN(OperatorActionsTest)
#include "tst_operator_actions.moc"
