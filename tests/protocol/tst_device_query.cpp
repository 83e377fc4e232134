// Both identity queries over a real pty against a scripted module: the bytes
// sent, what reaches the window, and the result rules.
#include "protocol/device_query.h"
#include "protocol/reply_text.h"
#include "tests/support/report_recorder.h"
#include "tests/support/scripted_module.h"
#include "worker/serial_link.h"

#include <QElapsedTimer>
#include <QtTest>

using Burst = ScriptedModule::Burst;

namespace {
const QString reading = QStringLiteral("status:设备信息读取中:1");
}

class DeviceQueryTest : public QObject
{
    Q_OBJECT

private slots:
    void marker_value_rules_data();
    void marker_value_rules();
    void info_value_rules();

    void wifi_all_answered();
    void wifi_no_answer_to_first_command();
    void wifi_only_serial_number_has_marker();
    void wifi_no_marker_anywhere();
    void wifi_version_silent_stops_the_query();
    void wifi_bursts_within_and_beyond_20ms();

    void cellular_all_answered();
    void cellular_field_variants_data();
    void cellular_field_variants();
    void cellular_info_without_marker_version_decides();
    void cellular_neither_marker();
    void cellular_no_info_reply_never_sends_version();

private:
    struct Run
    {
        int result;
        ReportRecorder reports;
        QList<QByteArray> commands;
        qint64 elapsed;
    };
    static void run_query(ScriptedModule &module, bool cellular, Run *run)
    {
        SerialLink link;
        QVERIFY(link.open(module.port()));
        QElapsedTimer timer;
        timer.start();
        run->result = cellular ? query_cellular_module(link, run->reports)
                               : query_wifi_module(link, run->reports);
        run->elapsed = timer.elapsed();
        run->commands = module.commands();
    }
};

void DeviceQueryTest::marker_value_rules_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("found");
    QTest::addColumn<QString>("value");
    QTest::newRow("plain") << QByteArray("+ok=AA:BB\r\n") << true << "AA:BB";
    QTest::newRow("text before marker") << QByteArray("xx+ok=1.2.3\r\nOK\r\n") << true << "1.2.3";
    QTest::newRow("echo before marker runs to end")
        << QByteArray("AT+LVER\r\n+ok=V9\r\n") << true << "V9\r\n";
    QTest::newRow("no line end") << QByteArray("+ok=abc") << true << "abc";
    QTest::newRow("empty value") << QByteArray("+ok=\r\n") << true << "";
    QTest::newRow("first marker counts") << QByteArray("+ok=A\r\n+ok=B\r\n") << true << "A";
    QTest::newRow("capital marker") << QByteArray("+OK=A\r\n") << false << "";
    QTest::newRow("NUL before marker") << QByteArray("\0+ok=A\r\n", 8) << false << "";
    QTest::newRow("NUL after value") << QByteArray("+ok=A\0B\r\n", 9) << true << "A";
    QTest::newRow("UTF-8 value") << QByteArray("+ok=\xe9\x9f\xb3\r\n") << true << QString::fromUtf8("\xe9\x9f\xb3");
    QTest::newRow("empty") << QByteArray() << false << "";
}

void DeviceQueryTest::marker_value_rules()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, found);
    QFETCH(QString, value);
    QString got = QStringLiteral("untouched");
    QCOMPARE(extract_marker_value(reply_text(reply), &got), found);
    if (found)
        QCOMPARE(got, value);
}

void DeviceQueryTest::info_value_rules()
{
    QStringList fields;
    int length = -1;
    QVERIFY(split_info_value(QStringLiteral("+ok=1,2,3\r\n"), &fields, &length));
    QCOMPARE(fields, QStringList({"1", "2", "3\r\n"}));
    QCOMPARE(length, 7);
    QVERIFY(split_info_value(QStringLiteral("a+ok=1,2+ok=3,4"), &fields, &length));
    QCOMPARE(fields, QStringList({"1", "2"}));
    QVERIFY(split_info_value(QStringLiteral("+ok="), &fields, &length));
    QCOMPARE(fields, QStringList({""}));
    QCOMPARE(length, 0);
    QVERIFY(!split_info_value(QStringLiteral("+ok 1,2,3"), &fields, &length));
}

void DeviceQueryTest::wifi_all_answered()
{
    ScriptedModule module;
    module.reply("AT+WSMAC", "+ok=11:22:33:44:55:66\r\n");
    module.reply("AT+LVER", "+ok=FW-1.15\r\n");
    module.reply("AT+SVER", "+ok=SND-7\r\n");
    module.reply("AT+DEVSN", "+ok=SN0001\r\n");
    Run run;
    run_query(module, false, &run);
    QCOMPARE(run.result, 0);
    QCOMPARE(run.commands, QList<QByteArray>({"AT+WSMAC", "AT+LVER", "AT+SVER", "AT+DEVSN"}));
    QCOMPARE(run.reports.events, QStringList({reading, "field:0:11:22:33:44:55:66", "field:1:FW-1.15",
                                              "field:2:SND-7", "field:3:SN0001"}));
    // About 25 ms a command: the burst, 3 ms of quiet, a 20 ms look for more.
    QVERIFY2(run.elapsed < 400, qPrintable(QString::number(run.elapsed)));
}

void DeviceQueryTest::wifi_no_answer_to_first_command()
{
    ScriptedModule module;
    Run run;
    run_query(module, false, &run);
    QCOMPARE(run.result, -1);
    QCOMPARE(run.commands, QList<QByteArray>({"AT+WSMAC"}));
    QCOMPARE(run.reports.events, QStringList({reading}));
    QVERIFY(run.elapsed >= 195 && run.elapsed < 500);
}

void DeviceQueryTest::wifi_only_serial_number_has_marker()
{
    ScriptedModule module;
    module.reply("AT+WSMAC", "ERROR\r\n");
    module.reply("AT+LVER", "ERROR\r\n");
    module.reply("AT+SVER", "ERROR\r\n");
    module.reply("AT+DEVSN", "+ok=SN9\r\n");
    Run run;
    run_query(module, false, &run);
    QCOMPARE(run.result, 0);
    QCOMPARE(run.reports.of_kind("field"), QStringList({"3:SN9"}));
}

void DeviceQueryTest::wifi_no_marker_anywhere()
{
    ScriptedModule module;
    for (const char *c : {"AT+WSMAC", "AT+LVER", "AT+SVER", "AT+DEVSN"})
        module.reply(c, QByteArray("\0+ok=hidden\r\n", 13));
    Run run;
    run_query(module, false, &run);
    QCOMPARE(run.result, -1);
    QCOMPARE(run.commands.size(), 4);
    QCOMPARE(run.reports.of_kind("field"), QStringList());
}

void DeviceQueryTest::wifi_version_silent_stops_the_query()
{
    ScriptedModule module;
    module.reply("AT+WSMAC", "+ok=AA\r\n");
    module.reply("AT+SVER", "+ok=S\r\n");
    Run run;
    run_query(module, false, &run);
    QCOMPARE(run.result, -1);
    QCOMPARE(run.commands, QList<QByteArray>({"AT+WSMAC", "AT+LVER"}));
    QCOMPARE(run.reports.of_kind("field"), QStringList({"0:AA"}));
}

void DeviceQueryTest::wifi_bursts_within_and_beyond_20ms()
{
    ScriptedModule module;
    // 10 ms apart: one reply. 60 ms apart: the tail is left for the next
    // command and read together with its reply.
    module.reply_bursts("AT+WSMAC", {{0, "+ok=AA:"}, {10, "BB\r\n"}});
    module.reply_bursts("AT+LVER", {{0, "junk"}, {60, "+ok=V1\r\n"}});
    module.reply("AT+SVER", "+ok=S2\r\n");
    module.reply("AT+DEVSN", "+ok=D3\r\n");
    Run run;
    run_query(module, false, &run);
    QCOMPARE(run.result, 0);
    // The late version line arrives in front of the audio version's reply:
    // that text's first "+ok=" is the version, cut at the first CR LF, and it
    // lands in the audio version's row.
    QCOMPARE(run.reports.of_kind("field"), QStringList({"0:AA:BB", "2:V1", "3:D3"}));
}

void DeviceQueryTest::cellular_all_answered()
{
    ScriptedModule module;
    module.reply("AT+INFO", "+ok=DEV42,861234567890123,89860012345678901234\r\n");
    module.reply("AT+LVER", "+ok=CAT1-2.0\r\n");
    Run run;
    run_query(module, true, &run);
    QCOMPARE(run.result, 0);
    QCOMPARE(run.commands, QList<QByteArray>({"AT+INFO", "AT+LVER"}));
    QCOMPARE(run.reports.events,
             QStringList({reading, "field:3:DEV42", "field:0:861234567890123",
                          "field:2:89860012345678901234\r\n", "field:1:CAT1-2.0"}));
    // The INFO step always waits 100 ms more for late data.
    QVERIFY(run.elapsed >= 100);
}

void DeviceQueryTest::cellular_field_variants_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QStringList>("fields");
    QTest::newRow("four fields") << QByteArray("+ok=a,b,c,d\r\n") << QStringList({"3:a", "0:b", "2:c"});
    QTest::newRow("empty middle") << QByteArray("+ok=a,,c") << QStringList({"3:a", "0:", "2:c"});
    QTest::newRow("two markers") << QByteArray("+ok=a,b,c+ok=x,y,z") << QStringList({"3:a", "0:b", "2:c"});
    // Short answers show the missing rows empty rather than a previous
    // module's values.
    QTest::newRow("one field") << QByteArray("+ok=only\r\n") << QStringList({"3:only\r\n", "0:", "2:"});
    QTest::newRow("marker only") << QByteArray("+ok=") << QStringList({"3:", "0:", "2:"});
}

void DeviceQueryTest::cellular_field_variants()
{
    QFETCH(QByteArray, reply);
    QFETCH(QStringList, fields);
    ScriptedModule module;
    module.reply("AT+INFO", reply);
    module.reply("AT+LVER", "no version\r\n");
    Run run;
    run_query(module, true, &run);
    QCOMPARE(run.result, 0);
    QCOMPARE(run.reports.of_kind("field"), fields);
}

void DeviceQueryTest::cellular_info_without_marker_version_decides()
{
    ScriptedModule module;
    module.reply("AT+INFO", "ERROR\r\n");
    module.reply("AT+LVER", "+ok=V7\r\n");
    Run run;
    run_query(module, true, &run);
    QCOMPARE(run.result, 0);
    QCOMPARE(run.reports.of_kind("field"), QStringList({"1:V7"}));
}

void DeviceQueryTest::cellular_neither_marker()
{
    ScriptedModule module;
    module.reply("AT+INFO", "ERROR\r\n");
    module.reply("AT+LVER", "ERROR\r\n");
    Run run;
    run_query(module, true, &run);
    QCOMPARE(run.result, -1);
    QCOMPARE(run.reports.events, QStringList({reading}));
}

void DeviceQueryTest::cellular_no_info_reply_never_sends_version()
{
    ScriptedModule module;
    module.reply("AT+LVER", "+ok=V7\r\n");
    Run run;
    run_query(module, true, &run);
    QCOMPARE(run.result, -1);
    QCOMPARE(run.commands, QList<QByteArray>({"AT+INFO"}));
    QVERIFY(run.elapsed >= 195 && run.elapsed < 500);
}

QTEST_GUILESS_MAIN(DeviceQueryTest)
#include "tst_device_query.moc"
