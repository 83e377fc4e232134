#include "bench/fault_matrix/window_operator.h"

#include "tests/support/module_sim_process.h"
#include "worker/mpthread.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

const WindowOperator::Operation WindowOperator::wifi_query {"Wi-Fi query", "wifi", 0x90, "设备查询", false};
const WindowOperator::Operation WindowOperator::cellular_query {"cellular query", "cellular", 0x81, "设备查询", false};
const WindowOperator::Operation WindowOperator::audio_replacement {"audio replacement", "cellular", 0x81, "音频更换",
                                                                   true};
const WindowOperator::Operation WindowOperator::firmware_upgrade {"firmware upgrade", "wifi", 0x90, "固件升级", true};

WindowOperator::WindowOperator(int image_size)
{
    previous_dir = QDir::currentPath();
    if (!dir.isValid() || !QDir::setCurrent(dir.path()))
        return;
    QDir().mkdir(QStringLiteral("sysfs"));
    // No module in the fabricated sysfs: the window keeps its Wi-Fi list
    // with all three operations, and the port is put into the selector here.
    qputenv("KV20_SYSFS_ROOT", dir.filePath("sysfs").toLocal8Bit());
    for (const char *name : {"sound.img", "fw.bin"}) {
        QFile image(dir.filePath(name));
        if (!image.open(QIODevice::WriteOnly))
            return;
        image.write(QByteArray(image_size, 'i'));
    }
    port_link = dir.filePath("kv20-port");
    dialog = std::make_unique<Dialog>();
    dialog->findChild<QComboBox *>("setting_port")->addItem(port_link);
    dialog->findChild<QLineEdit *>("path_fs")->setText(dir.filePath("sound.img"));
    dialog->findChild<QLineEdit *>("path_fw")->setText(dir.filePath("fw.bin"));
    auto *worker = dialog->findChild<MPThread *>();
    QObject::connect(worker, &MPThread::ui_set_status_text, dialog.get(), [this](const QString &text) {
        statuses << text;
        ended = ended || text == QStringLiteral("下载失败");
    });
    QObject::connect(worker, &MPThread::mac_done, dialog.get(), [this](bool ok) { ended = ended || !ok; });
    QObject::connect(worker, &MPThread::burn_done, dialog.get(), [this](bool ok) { ended = ended || ok || !download; });
}

WindowOperator::~WindowOperator()
{
    dialog.reset();
    QDir::setCurrent(previous_dir);
}

QString WindowOperator::success_status(const Operation &op)
{
    return op.download ? QStringLiteral("下载成功") : QStringLiteral("设备信息获取成功");
}

WindowOperator::Outcome WindowOperator::run(const Operation &op, const QStringList &sim_args, int timeout_ms)
{
    Outcome outcome;
    ModuleSimProcess sim(QStringList({QStringLiteral("--variant=") + op.variant, "--link=" + port_link, "--quiet"})
                         + sim_args);
    if (!sim.start())
        return outcome;
    outcome.started = true;
    emit dialog->__start_flash(flash_parameter(), op.kind);
    auto *speed = dialog->findChild<QComboBox *>("speed");
    speed->setCurrentText(QString::fromUtf8(op.selector_text));
    auto *burn = dialog->findChild<QPushButton *>("burn");
    statuses.clear();
    ended = false;
    download = op.download;

    QElapsedTimer timer;
    timer.start();
    QTest::mouseClick(burn, Qt::LeftButton);
    outcome.ended = QTest::qWaitFor([this] { return ended; }, timeout_ms);
    outcome.elapsed_ms = timer.elapsed();
    // The window finishes its part (controls, close) in the same batch.
    QCoreApplication::processEvents();
    outcome.status = dialog->findChild<QLabel *>("status")->text();
    if (statuses.size() >= 2 && outcome.status == QStringLiteral("下载失败"))
        outcome.reason = statuses.at(statuses.size() - 2);
    outcome.controls_enabled = burn->isEnabled() && speed->isEnabled();
    outcome.port_closed =
        dialog->findChild<QPlainTextEdit *>("debug_box")->toPlainText().endsWith(QStringLiteral("close serial port"));
    return outcome;
}
