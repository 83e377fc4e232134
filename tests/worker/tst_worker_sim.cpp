// Whole operations through the worker against the module simulator over its
// pty: both identity queries with the faults a real line shows, and image
// downloads with what the window receives, in order.
#include "tests/support/module_sim_process.h"
#include "tests/support/worker_event_log.h"
#include "worker/mpthread.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

class WorkerSimTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void wifi_query();
    void cellular_query_faults_data();
    void cellular_query_faults();
    void retry_succeeds_after_failed_attempts();

    void audio_replacement_delivers_the_image();
    void firmware_upgrade_with_early_crc_request();
    void download_failures_data();
    void download_failures();

private:
    bool start(const QStringList &args, quint8 kind);
    QByteArray write_image(const QString &name, int size);

    std::unique_ptr<ModuleSimProcess> sim;
    std::unique_ptr<MPThread> worker;
    std::unique_ptr<WorkerEventLog> log;
    QTemporaryDir dir;
};

void WorkerSimTest::init()
{
    worker = std::make_unique<MPThread>();
    log = std::make_unique<WorkerEventLog>(worker.get());
    worker->start();
}

void WorkerSimTest::cleanup()
{
    log.reset();
    worker.reset();
    sim.reset();
}

bool WorkerSimTest::start(const QStringList &args, quint8 kind)
{
    sim = std::make_unique<ModuleSimProcess>(args);
    if (!sim->start())
        return false;
    worker->__start_flash(flash_parameter(), kind);
    return worker->open_serial_port(sim->device_path(), QString());
}

QByteArray WorkerSimTest::write_image(const QString &name, int size)
{
    QByteArray image(size, Qt::Uninitialized);
    QRandomGenerator rng {quint32(size)};
    for (char &c : image)
        c = char(rng.bounded(256));
    if (!image.isEmpty())
        image[image.size() - 1] = 'E';  // the simulator strips trailing padding
    QFile file(dir.filePath(name));
    file.open(QIODevice::WriteOnly);
    file.write(image);
    return image;
}

void WorkerSimTest::wifi_query()
{
    QVERIFY(start({"--variant=wifi", "--mac=AC:DE:48:00:11:22", "--fw-version=WF-2.3", "--audio-version=SND-9",
                   "--serial=KV20-000123"},
                  0x90));
    worker->__start_flash(flash_parameter(), 0);
    QVERIFY(log->wait_for("burn_done:false", 3000));
    QCOMPARE(log->events, QStringList({"burn_show:false", "status:设备信息读取中:true", "field:0:AC:DE:48:00:11:22",
                                       "field:1:WF-2.3", "field:2:SND-9", "field:3:KV20-000123", "mac_done:true",
                                       "burn_done:false"}));
}

void WorkerSimTest::cellular_query_faults_data()
{
    // attempts: how many of the five the query took; 0 when all failed.
    // fields: what the window shows; not checked when empty.
    QTest::addColumn<QStringList>("faults");
    QTest::addColumn<int>("attempts");
    QTest::addColumn<QStringList>("fields");
    const QStringList all {"3:DEV7", "0:860000000000001", "2:8986000000000000001\r\n", "1:C1-1.0"};
    QTest::newRow("healthy") << QStringList() << 1 << all;
    QTest::newRow("late 150 ms") << QStringList({"--late-ms=150"}) << 1 << all;
    QTest::newRow("three bursts 10 ms apart") << QStringList({"--bursts=3", "--burst-gap-ms=10"}) << 1 << all;
    // The INFO step's extra 100 ms wait still collects a tail 50 ms late.
    QTest::newRow("INFO tail 50 ms late") << QStringList({"--bursts=2", "--burst-gap-ms=50", "--fault-command=AT+INFO"})
                                          << 1 << all;
    QTest::newRow("version without marker") << QStringList({"--no-marker", "--fault-command=AT+LVER"}) << 1
                                            << QStringList(all.mid(0, 3));
    // A reply later than 200 ms is taken by the next attempt, where it stands
    // in for the answer to the command that attempt sent.
    QTest::newRow("late 250 ms") << QStringList({"--late-ms=250"}) << 2 << QStringList();
    QTest::newRow("no marker") << QStringList({"--no-marker"}) << 0 << QStringList();
    QTest::newRow("NUL before marker") << QStringList({"--nul-before-marker"}) << 0 << QStringList();
    QTest::newRow("garbage instead") << QStringList({"--garbage-instead=12"}) << 0 << QStringList();
    QTest::newRow("no reply") << QStringList({"--no-reply"}) << 0 << QStringList();
}

void WorkerSimTest::cellular_query_faults()
{
    QFETCH(QStringList, faults);
    QFETCH(int, attempts);
    QFETCH(QStringList, fields);
    QVERIFY(start(QStringList({"--variant=cellular", "--devno=DEV7", "--imei=860000000000001",
                               "--iccid=8986000000000000001", "--fw-version=C1-1.0"})
                      + faults,
                  0x81));
    worker->__start_flash(flash_parameter(), 0);
    const QString end = attempts > 0 ? QStringLiteral("burn_done:false") : QStringLiteral("mac_done:false");
    QVERIFY(log->wait_for(end, 5000));
    QCOMPARE(log->events.contains("mac_done:true"), attempts > 0);
    QCOMPARE(log->events.count(QStringLiteral("status:设备信息读取中:true")), attempts > 0 ? attempts : 5);
    if (!fields.isEmpty())
        QCOMPARE(log->of_kind("field"), fields);
}

void WorkerSimTest::retry_succeeds_after_failed_attempts()
{
    QVERIFY(start({"--variant=cellular", "--no-reply", "--fault-times=2", "--fault-command=AT+INFO"}, 0x81));
    worker->__start_flash(flash_parameter(), 0);
    QVERIFY(log->wait_for("burn_done:false", 5000));
    QCOMPARE(log->events.count(QStringLiteral("status:设备信息读取中:true")), 3);
    QVERIFY(log->events.contains("mac_done:true"));
}

void WorkerSimTest::audio_replacement_delivers_the_image()
{
    const QByteArray image = write_image("sound.img", 5000);
    const QString received = dir.filePath("received.img");
    QVERIFY(start({"--variant=cellular", "--save-image=" + received, "--strip-padding"}, 0x81));
    flash_parameter request;
    request.fs_path = dir.filePath("sound.img");
    request.fw_path = dir.filePath("not-this-one.bin");
    worker->__start_flash(request, 1);
    QVERIFY(log->wait_for("burn_done:true", 10000));
    QCOMPARE(log->from("mac_done:true"),
             QStringList({"mac_done:true", "debug:firmware file read OK!", "status:音频文件下载中:true",
                          "debug:Start xmodem session", "max:5000", "debug:Send Image File length = 5000",
                          "debug:wait for sync signal...", "progress:1024", "progress:2048", "progress:3072",
                          "progress:4096", "progress:5120", "debug:xmodem transfer OK", "status:下载成功:true",
                          "burn_done:true"}));
    QVERIFY(sim->wait_for_log("AT+XUPDATE", 1000));
    QFile saved(received);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll(), image);
}

void WorkerSimTest::firmware_upgrade_with_early_crc_request()
{
    const QByteArray image = write_image("fw.bin", 3 * 1024);
    const QString received = dir.filePath("fw-received.bin");
    QVERIFY(start({"--variant=cellular", "--ack-with-c", "--save-image=" + received}, 0x81));
    flash_parameter request;
    request.fw_path = dir.filePath("fw.bin");
    worker->__start_flash(request, 2);
    QVERIFY(log->wait_for("burn_done:true", 10000));
    QVERIFY(log->events.contains("status:设备固件下载中:true"));
    // A whole number of blocks ends with one all-pad block.
    QCOMPARE(log->of_kind("progress"), QStringList({"1024", "2048", "3072", "4096"}));
    QVERIFY(sim->wait_for_log("AT+FOTA", 1000));
    QFile saved(received);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    const QByteArray got = saved.readAll();
    QCOMPARE(got.left(image.size()), image);
    QCOMPARE(got.mid(image.size()), QByteArray(1024, '\x1a'));
}

void WorkerSimTest::download_failures_data()
{
    QTest::addColumn<QStringList>("faults");
    QTest::addColumn<QStringList>("tail");
    const QStringList failed {"burn_done:false", "status:下载失败:false"};
    QTest::newRow("no acknowledgement") << QStringList({"--no-download-ack"})
                                        << QStringList({"status:音频文件下载中:true"}) + failed;
    QTest::newRow("acknowledgement in capitals") << QStringList({"--ack-upper"})
                                                 << QStringList({"status:音频文件下载中:true"}) + failed;
    QTest::newRow("block 2 never acknowledged")
        << QStringList({"--nak-block=2", "--nak-times=5"})
        << QStringList({"progress:1024", "debug:xmodem transmit error:-4", "status:传输错误:false"}) + failed;
    QTest::newRow("cancelled after block 1")
        << QStringList({"--cancel-block=2"})
        << QStringList({"progress:1024", "debug:xmodem transmit error:-1", "status:传输错误:false"}) + failed;
}

void WorkerSimTest::download_failures()
{
    QFETCH(QStringList, faults);
    QFETCH(QStringList, tail);
    write_image("sound.img", 3000);
    QVERIFY(start(QStringList({"--variant=cellular"}) + faults, 0x81));
    flash_parameter request;
    request.fs_path = dir.filePath("sound.img");
    worker->__start_flash(request, 1);
    QVERIFY(log->wait_for("status:下载失败:false", 10000));
    QCOMPARE(log->events.mid(log->events.size() - tail.size()), tail);
    QVERIFY(!log->events.contains("burn_done:true"));
}

QTEST_GUILESS_MAIN(WorkerSimTest)
#include "tst_worker_sim.moc"
