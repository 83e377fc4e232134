#include "app/dialog.h"

#include "app/window_log.h"
#include "discovery/device_change_source.h"
#include "ui_dialog.h"
#include "worker/mpthread.h"

#include <QCoreApplication>
#include <QSettings>
#include <QTextCodec>

namespace {

const QString settings_dir = QStringLiteral("./");
const QString settings_file = QStringLiteral("config.ini");

// The compiler's date form, "Jan  2 2025".
const char build_date[] = __DATE__;

} // namespace

Dialog::Dialog(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui_Dialog)
{
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));
    ui->setupUi(this);

    QCoreApplication::setOrganizationName(QStringLiteral("Veltrix"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("veltrix.example"));
    QCoreApplication::setApplicationName(QStringLiteral("Veltrix KV20 Download Tool"));

    qCDebug(window_log) << "settings location=" << settings_dir << settings_file;
    settings = new QSettings(settings_dir + settings_file, QSettings::IniFormat);
    // Operators edit config.ini by hand, with Chinese folder and file names;
    // without a codec Qt 5 reads the file as Latin-1 and such a path names a
    // file that does not exist. Escaped values written by earlier versions
    // and a leading byte-order mark still read the same.
    settings->setIniCodec("UTF-8");
    load_saved_paths();

    setWindowTitle(tr("云音箱音频替换及固件升级工具 V1.15 ") + tr(build_date));
    setWindowFlags(Qt::WindowCloseButtonHint);
    set_main_info(tr("就绪"), true);

    thread = new MPThread(this);
    keep_journal();
    thread->start();

    connect(this, &Dialog::__start_flash, thread, &MPThread::__start_flash);
    connect(thread, &MPThread::ui_set_progress, this, &Dialog::ui_set_progress);
    connect(thread, &MPThread::ui_set_progress_max, this, &Dialog::ui_set_progress_max);
    connect(thread, &MPThread::ui_set_status_text, this, &Dialog::set_main_info);
    connect(thread, &MPThread::ui_set_mac_text, this, &Dialog::ui_set_mac_text);
    connect(thread, &MPThread::ui_debug, this, &Dialog::ui_debug);
    connect(thread, &MPThread::burn_done, this, &Dialog::burn_done);
    connect(thread, &MPThread::burn_show, this, &Dialog::burn_show);
    connect(thread, &MPThread::mac_done, this, &Dialog::mac_done);
    connect(this, &Dialog::thread_open_serial_port, thread, &MPThread::open_serial_port);
    connect(this, &Dialog::thread_close_serial_port, thread, &MPThread::close_serial_port);

    device_refresh();

    // Where device changes do not come as native window messages, a source
    // of their own reports them.
    auto *changes = new DeviceChangeSource(this);
    connect(changes, &DeviceChangeSource::device_changed, this, &Dialog::handle_device_change);
}

Dialog::~Dialog()
{
    // The worker may be in the middle of a conversation: it ends it at once
    // (every wait times out) and closes the port in its own thread.
    thread->stop_and_wait();
    delete ui;
    // Deleting the settings writes out a path chosen just before the window
    // closed, which the deferred write would otherwise lose.
    delete settings;
}

void Dialog::load_saved_paths()
{
    ui->path_fw->setText(settings->value(QStringLiteral("fw.img_path"), QString()).toString());
    ui->path_fs->setText(settings->value(QStringLiteral("fs.img_path"), QString()).toString());
}
