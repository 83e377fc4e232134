// Every operation against every fault the simulator offers, through the real
// window: the outcome the operator sees, the time it takes against its bound,
// the controls enabled again, the port closed, and the next operation on a
// healthy module succeeding without restarting the tool.
#include "tests/reliability/window_operator.h"

#include <QtTest>

namespace {

using Operation = WindowOperator::Operation;
const Operation *const operations[] = {&WindowOperator::wifi_query, &WindowOperator::cellular_query,
                                       &WindowOperator::audio_replacement, &WindowOperator::firmware_upgrade};

const QString query_failed = QStringLiteral("设备信息获取失败");
const QString download_failed = QStringLiteral("下载失败");

// What the operator is left with: the last status text, and for a failed
// download the reason shown just before "下载失败".
struct Expected
{
    QString status;
    QString reason;
};

Expected success(const Operation &op)
{
    return {WindowOperator::success_status(op), QString()};
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
    std::unique_ptr<WindowOperator> window;
};

void FaultMatrixTest::initTestCase()
{
    window = std::make_unique<WindowOperator>();
    QVERIFY(window->ok());
}

void FaultMatrixTest::cleanupTestCase()
{
    window.reset();
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
        const Operation &op = *operations[i];
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
        const Operation &op = *operations[i];
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
    const Operation &op = *operations[operation];

    const WindowOperator::Outcome faulty = window->run(op, faults, bound_ms + 5000);
    QVERIFY(faulty.started);
    qInfo("| %s | %s | %s%s%s | %lld ms |", op.name, qPrintable(faults.join(' ')), qPrintable(faulty.status),
          faulty.reason.isEmpty() ? "" : " after ", qPrintable(faulty.reason), faulty.elapsed_ms);
    QCOMPARE(faulty.status, status);
    QCOMPARE(faulty.reason, reason);
    QVERIFY2(faulty.elapsed_ms <= bound_ms, qPrintable(QString::number(faulty.elapsed_ms)));
    QVERIFY(faulty.controls_enabled);
    QVERIFY(faulty.port_closed);

    const WindowOperator::Outcome healthy = window->run(op, {}, 5000);
    QCOMPARE(healthy.status, success(op).status);
    QVERIFY(healthy.controls_enabled);
    QVERIFY(healthy.port_closed);
}

QTEST_MAIN(FaultMatrixTest)
#include "tst_fault_matrix.moc"
