// The worker thread end to end over a real pty: request intake, the order of
// what the window receives for each outcome, and a prompt stop.
#include "tests/support/scripted_module.h"
#include "tests/support/worker_event_log.h"
#include "worker/mpthread.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QtTest>

class WorkerTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void operation_types_only_requests_start_work();
    void device_kind_selects_the_query();
    void query_only_success_order();
    void five_failed_queries_then_mac_done_false();
    void unsendable_image_order_data();
    void unsendable_image_order();
    void open_and_close_answer_synchronously();
    void stop_during_a_conversation_is_prompt();

private:
    bool wait_for_event(const QString &event, int timeout_ms);
    void answer_wifi(ScriptedModule &module);

    std::unique_ptr<MPThread> worker;
    std::unique_ptr<WorkerEventLog> log;
};

void WorkerTest::init()
{
    worker = std::make_unique<MPThread>();
    log = std::make_unique<WorkerEventLog>(worker.get());
    worker->start();
}

void WorkerTest::cleanup()
{
    log.reset();
    worker.reset();
}

bool WorkerTest::wait_for_event(const QString &event, int timeout_ms)
{
    return log->wait_for(event, timeout_ms);
}

void WorkerTest::answer_wifi(ScriptedModule &module)
{
    module.reply("AT+WSMAC", "+ok=AA\r\n");
    module.reply("AT+LVER", "+ok=V1\r\n");
    module.reply("AT+SVER", "+ok=S1\r\n");
    module.reply("AT+DEVSN", "+ok=D1\r\n");
}

void WorkerTest::operation_types_only_requests_start_work()
{
    ScriptedModule module;
    answer_wifi(module);
    QVERIFY(worker->open_serial_port(module.port(), QString()));
    for (quint8 type : {quint8(3), quint8(4), quint8(5), quint8(128), quint8(0x80)})
        QCOMPARE(worker->__start_flash(flash_parameter(), type), 0);
    // None of them starts a conversation.
    QVERIFY(!wait_for_event(QStringLiteral("burn_show:false"), 150));
    QVERIFY(module.commands().isEmpty());
    QCOMPARE(worker->__start_flash(flash_parameter(), 0), 0);
    QVERIFY(wait_for_event(QStringLiteral("burn_done:false"), 3000));
    QCOMPARE(module.commands().first(), QByteArray("AT+WSMAC"));
}

void WorkerTest::device_kind_selects_the_query()
{
    ScriptedModule module;
    answer_wifi(module);
    module.reply("AT+INFO", "+ok=D,I,C\r\n");
    QVERIFY(worker->open_serial_port(module.port(), QString()));

    const auto run_and_first_command = [&](quint8 kind) {
        log->events.clear();
        worker->__start_flash(flash_parameter(), kind);
        const int before = module.commands().size();
        worker->__start_flash(flash_parameter(), 0);
        if (!wait_for_event(QStringLiteral("burn_done:false"), 3000))
            return QByteArray("timeout");
        return module.commands().value(before);
    };
    QCOMPARE(run_and_first_command(0x81), QByteArray("AT+INFO"));
    QCOMPARE(run_and_first_command(0x80), QByteArray("AT+INFO"));  // 0x80 changes nothing
    QCOMPARE(run_and_first_command(0x90), QByteArray("AT+WSMAC")); // kind 0 again
    QCOMPARE(run_and_first_command(0x8F), QByteArray("AT+INFO"));
}

void WorkerTest::query_only_success_order()
{
    ScriptedModule module;
    answer_wifi(module);
    QVERIFY(worker->open_serial_port(module.port(), QString()));
    worker->__start_flash(flash_parameter(), 0);
    QVERIFY(wait_for_event(QStringLiteral("burn_done:false"), 3000));
    QCOMPARE(log->events, QStringList({"burn_show:false", "status:设备信息读取中:true", "field:0:AA", "field:1:V1",
                                  "field:2:S1", "field:3:D1", "mac_done:true", "burn_done:false"}));
}

void WorkerTest::five_failed_queries_then_mac_done_false()
{
    ScriptedModule module;
    module.reply("AT+WSMAC", "ERROR\r\n");
    module.reply("AT+LVER", "ERROR\r\n");
    module.reply("AT+SVER", "ERROR\r\n");
    module.reply("AT+DEVSN", "ERROR\r\n");
    QVERIFY(worker->open_serial_port(module.port(), QString()));
    worker->__start_flash(flash_parameter(), 1);
    QVERIFY(wait_for_event(QStringLiteral("mac_done:false"), 5000));
    QCOMPARE(module.commands().count("AT+WSMAC"), 5);
    QCOMPARE(module.commands().size(), 20);
    QCOMPARE(log->events.count(QStringLiteral("status:设备信息读取中:true")), 5);
    QCOMPARE(log->events.first(), QStringLiteral("burn_show:false"));
    QCOMPARE(log->events.last(), QStringLiteral("mac_done:false"));
    // No download and no burn_done after a failed query.
    QVERIFY(!wait_for_event(QStringLiteral("burn_done:false"), 100));
}

void WorkerTest::unsendable_image_order_data()
{
    QTest::addColumn<quint8>("type");
    QTest::addColumn<QStringList>("tail");
    // The audio path is empty and the firmware path names no file; neither
    // download command may reach the module.
    QTest::newRow("audio path empty") << quint8(1)
                                      << QStringList({"mac_done:true", "debug:firmware img not selected.",
                                                      "burn_done:false", "status:下载失败:false"});
    QTest::newRow("firmware file missing") << quint8(2)
                                           << QStringList({"mac_done:true", "status:未发现软件:false",
                                                           "debug:firmware not found!", "burn_done:false",
                                                           "status:下载失败:false"});
}

void WorkerTest::unsendable_image_order()
{
    QFETCH(quint8, type);
    QFETCH(QStringList, tail);
    ScriptedModule module;
    answer_wifi(module);
    QVERIFY(worker->open_serial_port(module.port(), QString()));
    flash_parameter request;
    request.fw_path = QStringLiteral("/nonexistent/fw.img");
    worker->__start_flash(request, type);
    QVERIFY(wait_for_event(QStringLiteral("status:下载失败:false"), 3000));
    QCOMPARE(log->from(QStringLiteral("mac_done:true")), tail);
    QVERIFY(!module.commands().contains("AT+XUPDATE"));
    QVERIFY(!module.commands().contains("AT+FOTA"));
}

void WorkerTest::open_and_close_answer_synchronously()
{
    QVERIFY(!worker->open_serial_port(QStringLiteral("/dev/kv20-missing"), QStringLiteral("设备查询")));
    // A close with nothing open only logs; it reaches the window at once.
    QSignalSpy debug(worker.get(), &MPThread::ui_debug);
    worker->close_serial_port();
    QCOMPARE(debug.count(), 1);
    QCOMPARE(debug.at(0).at(0).toString(), QStringLiteral("close serial port"));

    ScriptedModule module;
    answer_wifi(module);
    QVERIFY(worker->open_serial_port(module.port(), QString()));
    worker->close_serial_port();
    // After the close the worker's query cannot reach the module.
    worker->__start_flash(flash_parameter(), 0);
    QVERIFY(wait_for_event(QStringLiteral("mac_done:false"), 5000));
    QVERIFY(module.commands().isEmpty());
    // And the port opens again for the next request.
    QVERIFY(worker->open_serial_port(module.port(), QString()));
    log->events.clear();
    worker->__start_flash(flash_parameter(), 0);
    QVERIFY(wait_for_event(QStringLiteral("burn_done:false"), 3000));
}

void WorkerTest::stop_during_a_conversation_is_prompt()
{
    ScriptedModule module;  // never answers: five 200 ms attempts would follow
    QVERIFY(worker->open_serial_port(module.port(), QString()));
    worker->__start_flash(flash_parameter(), 0);
    QVERIFY(wait_for_event(QStringLiteral("burn_show:false"), 1000));
    QElapsedTimer timer;
    timer.start();
    worker->request_stop();
    QVERIFY(worker->wait(2000));
    QVERIFY2(timer.elapsed() < 300, qPrintable(QString::number(timer.elapsed())));
    QVERIFY(!worker->open_serial_port(module.port(), QString()));
}

QTEST_GUILESS_MAIN(WorkerTest)
#include "tst_worker.moc"
