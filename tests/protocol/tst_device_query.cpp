// The identity queries: their reply rules on reply texts, then both queries
// over a real pty against a scripted module.
#include "protocol/device_query.h"
#include "protocol/reply_text.h"
#include "tests/support/scripted_module.h"
#include "worker/serial_link.h"

#include <QtTest>

using Bytes = QList<QByteArray>;

namespace {

// What reaches the window: the status line and the device fields.
struct Window : WorkerReports
{
    QStringList events;
    void report_status(const QString &text, bool ok) override { events << QStringLiteral("status:%1:%2").arg(text).arg(ok); }
    void report_mac_text(const QString &value, quint8 type) override { events << QStringLiteral("%1:%2").arg(type).arg(value); }
    void report_progress(int) override {}
    void report_progress_max(int) override {}
    void report_debug(const QString &) override {}
};

// "a|60|b": burst "a" at once, burst "b" 60 ms later.
QList<ScriptedModule::Burst> bursts(const QByteArray &reply)
{
    const Bytes parts = reply.split('|');
    QList<ScriptedModule::Burst> out {{0, parts[0]}};
    for (int i = 1; i + 1 < parts.size(); i += 2)
        out.append({parts[i].toInt(), parts[i + 1]});
    return out;
}

const Bytes wifi_commands {"AT+WSMAC", "AT+LVER", "AT+SVER", "AT+DEVSN"}, cellular_commands {"AT+INFO", "AT+LVER"};

} // namespace

class TestDeviceQuery : public QObject
{
    Q_OBJECT

private slots:
    // value: behind the first marker, cut at the first CR LF of the reply
    // (null: no marker). info: the AT+INFO fields.
    void reply_rules_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QStringList>("info");
        QTest::newRow("three fields") << QByteArray("+ok=1,2,3\r\n") << "1,2,3" << QStringList {"1", "2", "3\r\n"};
        QTest::newRow("text before") << QByteArray("xx+ok=1.2\r\nOK\r\n") << "1.2" << QStringList {"1.2\r\nOK\r\n"};
        QTest::newRow("echo before") << QByteArray("AT+LVER\r\n+ok=V9\r\n") << "V9\r\n" << QStringList {"V9\r\n"};
        QTest::newRow("no line end") << QByteArray("+ok=abc") << "abc" << QStringList {"abc"};
        QTest::newRow("empty value") << QByteArray("+ok=") << "" << QStringList {""};
        QTest::newRow("two markers") << QByteArray("+ok=a,,b+ok=c\r\n") << "a,,b+ok=c" << QStringList {"a", "", "b"};
        QTest::newRow("capital marker") << QByteArray("+OK=A\r\n") << QString() << QStringList();
        QTest::newRow("NUL before marker") << QByteArray("\0+ok=A\r\n", 8) << QString() << QStringList();
        QTest::newRow("NUL after value") << QByteArray("+ok=A\0B\r\n", 9) << "A" << QStringList {"A"};
        QTest::newRow("UTF-8") << QByteArray("+ok=\xe9\x9f\xb3\r\n") << QString::fromUtf8("\xe9\x9f\xb3")
                               << QStringList {QString::fromUtf8("\xe9\x9f\xb3\r\n")};
        QTest::newRow("empty") << QByteArray() << QString() << QStringList();
    }

    void reply_rules()
    {
        QFETCH(QByteArray, reply);
        QFETCH(QString, value);
        QFETCH(QStringList, info);
        QString got;
        QStringList fields;
        int length = 0;
        QCOMPARE(extract_marker_value(reply_text(reply), &got), !value.isNull());
        QCOMPARE(got, value);
        QCOMPARE(split_info_value(reply_text(reply), &fields, &length), !value.isNull());
        QCOMPARE(fields, info);
    }

    // replies: one per command in the order sent ("" or missing: no answer).
    void query_data()
    {
        QTest::addColumn<bool>("cellular");
        QTest::addColumn<Bytes>("replies");
        QTest::addColumn<int>("commands");  // how many were sent
        QTest::addColumn<QStringList>("fields");
        QTest::addColumn<int>("result");
        const QByteArray hidden("\0+ok=x\r\n", 8);
        QTest::newRow("Wi-Fi answered, version behind its echo")
            << false << Bytes {"+ok=11:22\r\n", "AT+LVER\r\n+ok=FW-1\r\n", "+ok=SND-7\r\n", "+ok=SN1\r\n"} << 4
            << QStringList {"0:11:22", "1:FW-1\r\n", "2:SND-7", "3:SN1"} << 0;
        QTest::newRow("Wi-Fi silent") << false << Bytes() << 1 << QStringList() << -1;
        QTest::newRow("Wi-Fi, only DEVSN has the marker")
            << false << Bytes {"ERROR\r\n", "ERROR\r\n", "ERROR\r\n", "+ok=SN9\r\n"} << 4 << QStringList {"3:SN9"} << 0;
        QTest::newRow("Wi-Fi, markers behind NUL")
            << false << Bytes {hidden, hidden, hidden, hidden} << 4 << QStringList() << -1;
        QTest::newRow("Wi-Fi, version silent: no more commands")
            << false << Bytes {"+ok=AA\r\n", "", "+ok=S\r\n"} << 2 << QStringList {"0:AA"} << -1;
        // 60 ms apart, the tail is read with the next command's reply.
        QTest::newRow("Wi-Fi, bursts 10 ms apart join, 60 ms apart carry over")
            << false << Bytes {"+ok=AA:|10|BB\r\n", "junk|60|+ok=V1\r\n", "+ok=S2\r\n", "+ok=D3\r\n"} << 4
            << QStringList {"0:AA:BB", "2:V1", "3:D3"} << 0;
        QTest::newRow("cellular answered, fourth field unused")
            << true << Bytes {"+ok=DEV42,8612,8986,x\r\n", "+ok=CAT1\r\n"} << 2
            << QStringList {"3:DEV42", "0:8612", "2:8986", "1:CAT1"} << 0;
        QTest::newRow("cellular short INFO: missing rows empty")
            << true << Bytes {"+ok=only\r\n", "no version\r\n"} << 2 << QStringList {"3:only\r\n", "0:", "2:"} << 0;
        QTest::newRow("cellular INFO tail 60 ms late")
            << true << Bytes {"+ok=D,|60|I,C\r\n", "+ok=V\r\n"} << 2 << QStringList {"3:D", "0:I", "2:C\r\n", "1:V"} << 0;
        QTest::newRow("cellular INFO without marker: version decides")
            << true << Bytes {"ERROR\r\n", "+ok=V7\r\n"} << 2 << QStringList {"1:V7"} << 0;
        QTest::newRow("cellular, no marker") << true << Bytes {"ERROR\r\n", "ERROR\r\n"} << 2 << QStringList() << -1;
        QTest::newRow("cellular INFO silent: no version asked")
            << true << Bytes {"", "+ok=V7\r\n"} << 1 << QStringList() << -1;
    }

    void query()
    {
        QFETCH(bool, cellular);
        QFETCH(Bytes, replies);
        QFETCH(int, commands);
        QFETCH(QStringList, fields);
        QFETCH(int, result);
        const Bytes sequence = cellular ? cellular_commands : wifi_commands;
        ScriptedModule module;
        for (int i = 0; i < replies.size(); ++i)
            module.reply_bursts(sequence[i], bursts(replies[i]));
        SerialLink link;
        QVERIFY(link.open(module.port()));
        Window window;
        QCOMPARE(cellular ? query_cellular_module(link, window) : query_wifi_module(link, window), result);
        QCOMPARE(module.commands(), sequence.mid(0, commands));
        QCOMPARE(window.events, QStringList {QStringLiteral("status:设备信息读取中:1")} + fields);
    }
};

QTEST_GUILESS_MAIN(TestDeviceQuery)
#include "tst_device_query.moc"
