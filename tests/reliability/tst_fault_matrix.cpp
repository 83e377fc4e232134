// Every operation against every fault the simulator offers, through the real
// window: the outcome the operator sees, the time it takes against its bound,
// the controls enabled again, the port closed, and the next operation on a
// healthy module succeeding without restarting the tool.
#include "app/dialog.h"
#include "tests/support/module_sim_process.h"
#include "tests/support/worker_event_log.h"
#include "worker/mpthread.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

namespace {

struct Operation
{
    const char *name;
    const char *variant;
    quint8 kind;
    const char *selector_text;
    bool download;
};

const Operation operations[] = {
    {"Wi-Fi query", "wifi", 0x90, "设备查询", false},
    {"cellular query", "cellular", 0x81, "设备查询", false},
    {"audio replacement", "cellular", 0x81, "音频更换", true},
    {"firmware upgrade", "wifi", 0x90, "固件升级", true},
};

const QString query_failed = QStringLiteral("设备信息获取失败");
const QString download_failed = QStringLiteral("下载失败");
const QString transfer_error = QStringLiteral("传输错误");

// What the operator is left with: the last status text, and for a failed
// download the reason shown just before "下载失败".
struct Expected
{
    QString status;
    QString reason;
};

Expected success(const Operation &op)
{
    return {op.download ? QStringLiteral("下载成功") : QStringLiteral("设备信息获取成功"), QString()};
}

} // namespace

class FaultMatrixTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void matrix_data();
    void matrix();

private:
    struct Outcome
    {
        QString status;
        QString reason;
        qint64 elapsed_ms = -1;
        bool controls_enabled = false;
        bool port_closed = false;
    };
    Outcome run(const Operation &op, const QStringList &sim_args, int timeout_ms);

    QTemporaryDir dir;
    QString port_link;
    QString previous_dir;
    std::unique_ptr<Dialog> dialog;
    std::unique_ptr<WorkerEventLog> log;
};

void FaultMatrixTest::initTestCase()
{
    previous_dir = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir.path()));
    QDir().mkdir(QStringLiteral("sysfs"));
    qputenv("KV20_SYSFS_ROOT", dir.filePath("sysfs").toLocal8Bit());
    for (const char *name : {"sound.img", "fw.bin"}) {
        QFile image(dir.filePath(name));
        QVERIFY(image.open(QIODevice::WriteOnly));
        image.write(QByteArray(3000, 'i'));
    }
    // Every simulator of this test answers behind the same name, as a
    // module plugged into the same socket would.
    port_link = dir.filePath("kv20-port");
    dialog = std::make_unique<Dialog>();
    dialog->findChild<QComboBox *>("setting_port")->addItem(port_link);
    dialog->findChild<QLineEdit *>("path_fs")->setText(dir.filePath("sound.img"));
    dialog->findChild<QLineEdit *>("path_fw")->setText(dir.filePath("fw.bin"));
    log = std::make_unique<WorkerEventLog>(dialog->findChild<MPThread *>());
}

void FaultMatrixTest::cleanupTestCase()
{
    log.reset();
    dialog.reset();
    QDir::setCurrent(previous_dir);
}

FaultMatrixTest::Outcome FaultMatrixTest::run(const Operation &op, const QStringList &sim_args, int timeout_ms)
{
    Outcome outcome;
    ModuleSimProcess sim(QStringList({QStringLiteral("--variant=") + op.variant, "--link=" + port_link, "--quiet"})
                         + sim_args);
    if (!sim.start())
        return outcome;
    emit dialog->__start_flash(flash_parameter(), op.kind);
    dialog->findChild<QComboBox *>("speed")->setCurrentText(QString::fromUtf8(op.selector_text));
    auto *burn = dialog->findChild<QPushButton *>("burn");
    auto *status = dialog->findChild<QLabel *>("status");
    log->events.clear();

    QElapsedTimer timer;
    timer.start();
    QTest::mouseClick(burn, Qt::LeftButton);
    const QStringList ends {"mac_done:false", "burn_done:true", "status:下载失败:false"};
    const auto finished = [&] {
        for (const QString &e : ends)
            if (log->events.contains(e))
                return true;
        return !op.download && log->events.contains(QStringLiteral("burn_done:false"));
    };
    while (!finished() && timer.elapsed() < timeout_ms)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    outcome.elapsed_ms = timer.elapsed();
    // The window finishes its part (controls, close) in the same batch.
    QCoreApplication::processEvents();
    outcome.status = status->text();
    const QStringList statuses = log->of_kind("status");
    if (statuses.size() >= 2 && outcome.status == download_failed)
        outcome.reason = statuses.at(statuses.size() - 2).section(QLatin1Char(':'), 0, 0);
    outcome.controls_enabled = burn->isEnabled() && dialog->findChild<QComboBox *>("speed")->isEnabled();
    outcome.port_closed =
        dialog->findChild<QPlainTextEdit *>("debug_box")->toPlainText().endsWith(QStringLiteral("close serial port"));
    return outcome;
}

void FaultMatrixTest::matrix_data()
{
    QTest::addColumn<int>("operation");
    QTest::addColumn<QStringList>("faults");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<int>("bound_ms");

    struct QueryFault
    {
        const char *name;
        QStringList args;
        bool breaks_query;
        int bound_ms;
        // The same fault on the download command's acknowledgement: it must
        // come whole within 100 ms, so a late or split one fails the download.
        bool breaks_download_ack = false;
    };
    // Five attempts of at most four commands, each reply waited for 200 ms.
    const QueryFault query_faults[] = {
        {"healthy", {}, false, 2000},
        {"no reply", {"--no-reply"}, true, 2500},
        {"reply 150 ms late", {"--late-ms=150"}, false, 3000, true},
        {"reply in 3 bursts", {"--bursts=3", "--burst-gap-ms=10"}, false, 2000, true},
        {"no marker", {"--no-marker"}, true, 2500},
        {"NUL before marker", {"--nul-before-marker"}, true, 2500},
        {"garbage instead of reply", {"--garbage-instead=16"}, true, 2500},
        {"garbage before reply", {"--garbage-before=16"}, false, 2000},
        {"unplugged mid-reply", {"--unplug-reply-bytes=3"}, true, 2500},
    };
    for (int i = 0; i < 4; ++i) {
        const Operation &op = operations[i];
        for (const QueryFault &f : query_faults) {
            Expected e = f.breaks_query ? Expected {query_failed, QString()} : success(op);
            if (op.download && f.breaks_download_ack)
                e = {download_failed, QString::fromUtf8(i == 2 ? "音频文件下载中" : "设备固件下载中")};
            QTest::addRow("%s / %s", op.name, f.name) << i << f.args << e.status << e.reason << f.bound_ms;
        }
    }

    struct DownloadFault
    {
        const char *name;
        QStringList args;
        const char *reason;  // status shown before "下载失败"; null: success
        int bound_ms;
        bool once;           // long waits: run for one operation only
    };
    const DownloadFault download_faults[] = {
        {"no acknowledgement", {"--no-download-ack"}, "downloading", 2000, false},
        {"acknowledgement in capitals", {"--ack-upper"}, "downloading", 2000, false},
        {"acknowledgement with C", {"--ack-with-c"}, nullptr, 3000, false},
        {"checksum receiver", {"--checksum"}, nullptr, 3000, false},
        {"block 2 NAKed 4 times", {"--nak-block=2", "--nak-times=4"}, nullptr, 4000, false},
        {"block 2 never acknowledged", {"--nak-block=2", "--nak-times=5"}, "传输错误", 4000, false},
        {"cancelled, CANs apart", {"--cancel-block=2"}, "传输错误", 3000, false},
        {"receiver silent after block 2", {"--silent-block=3"}, "传输错误", 5000, false},
        {"unplugged mid-transfer", {"--unplug-block=2"}, "传输错误", 5000, false},
        {"EOT answered with NAK", {"--eot-reply=nak"}, nullptr, 3000, false},
        {"EOT answered with empty text for ever", {"--eot-reply=nul", "--eot-fault-times=1000"}, "传输错误", 4000,
         false},
        {"EOT never answered", {"--eot-reply=none"}, "传输错误", 13000, true},
        {"never asks for the transfer", {"--silent-block=0"}, "传输错误", 19000, true},
    };
    for (int i = 2; i < 4; ++i) {
        const Operation &op = operations[i];
        for (const DownloadFault &f : download_faults) {
            if (f.once && i != 2)
                continue;
            Expected e = success(op);
            if (f.reason) {
                e.status = download_failed;
                e.reason = QString::fromUtf8(f.reason) == QStringLiteral("downloading")
                               ? QString::fromUtf8(i == 2 ? "音频文件下载中" : "设备固件下载中")
                               : QString::fromUtf8(f.reason);
            }
            QTest::addRow("%s / %s", op.name, f.name) << i << f.args << e.status << e.reason << f.bound_ms;
        }
    }
}

void FaultMatrixTest::matrix()
{
    QFETCH(int, operation);
    QFETCH(QStringList, faults);
    QFETCH(QString, status);
    QFETCH(QString, reason);
    QFETCH(int, bound_ms);
    const Operation &op = operations[operation];

    const Outcome faulty = run(op, faults, bound_ms + 5000);
    qInfo("| %s | %s | %s%s%s | %lld ms |", op.name, qPrintable(faults.join(' ')), qPrintable(faulty.status),
          faulty.reason.isEmpty() ? "" : " after ", qPrintable(faulty.reason), faulty.elapsed_ms);
    QCOMPARE(faulty.status, status);
    QCOMPARE(faulty.reason, reason);
    QVERIFY2(faulty.elapsed_ms <= bound_ms, qPrintable(QString::number(faulty.elapsed_ms)));
    QVERIFY(faulty.controls_enabled);
    QVERIFY(faulty.port_closed);

    const Outcome healthy = run(op, {}, 5000);
    QCOMPARE(healthy.status, success(op).status);
    QVERIFY(healthy.controls_enabled);
    QVERIFY(healthy.port_closed);
}

QTEST_MAIN(FaultMatrixTest)
#include "tst_fault_matrix.moc"
