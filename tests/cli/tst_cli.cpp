// kv20-cli as a script or an operator runs it: its own process against
// simulated modules that share one fabricated device tree, judged by its exit
// code, its output, the journal and what the modules received.
#include "journal/journal_format.h"
#include "tests/support/csv_reader.h"
#include "tests/support/module_sim_process.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <csignal>
#include <functional>
#include <sys/stat.h>
#include <memory>
#include <vector>

namespace {

using Sims = std::vector<std::unique_ptr<ModuleSimProcess>>;

struct Bench
{
    QTemporaryDir dir;
    Sims sims;
    QProcess cli;
    QProcess reader;  // of the CLI's output, where a test pipes it

    // One simulator per argument list, all in this bench's device tree,
    // announcing their own restarts as device events.
    bool start_sims(const QList<QStringList> &each)
    {
        for (QStringList args : each) {
            sims.push_back(std::make_unique<ModuleSimProcess>(args << "--device-tree=" + dir.filePath("sys")));
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("KV20_DEVICE_EVENT_FIFO", dir.filePath("events"));
            sims.back()->process().setProcessEnvironment(env);
            if (!sims.back()->start())
                return false;
        }
        return true;
    }
    void start_cli(const QStringList &args, const QString &program = QStringLiteral(KV20_BIN_DIR "/kv20-cli"))
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("KV20_SYSFS_ROOT", dir.filePath("sys"));
        env.insert("KV20_DEVICE_EVENT_FIFO", dir.filePath("events"));
        cli.setProcessEnvironment(env);
        cli.setWorkingDirectory(dir.path());
        cli.start(program, args);
    }
    int run(const QStringList &args, int timeout_ms = 30000)
    {
        start_cli(args);
        return cli.waitForFinished(timeout_ms) && cli.exitStatus() == QProcess::NormalExit ? cli.exitCode() : -1;
    }
    QStringList out_lines() { return QString::fromUtf8(cli.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts); }
    QList<QStringList> journal() { return read_csv(read_file(dir.filePath("kv20-journal.csv"))).mid(1); }
    QString port(int i) const { return sims.at(i)->device_path().mid(5); }
    // Arguments of `count` simulators, the i-th saving what it receives to gotI.
    QList<QStringList> saving_sims(int count) const
    {
        QList<QStringList> args;
        for (int i = 0; i < count; ++i)
            args << QStringList {"--strip-padding", "--save-image=" + dir.filePath(QString("got%1").arg(i))};
        return args;
    }
    // A device-change event, as udev would deliver it.
    bool announce(const QByteArray &line)
    {
        QFile fifo(dir.filePath("events"));
        return fifo.open(QIODevice::WriteOnly | QIODevice::Unbuffered) && fifo.write(line + '\n') == line.size() + 1;
    }
    // Line mode's JSON events so far; waits until `count` of them satisfy
    // `match`.
    QList<QJsonObject> events;
    QByteArray pending;
    bool wait_for_events(const std::function<bool(const QJsonObject &)> &match, int count, int timeout_ms = 15000)
    {
        QElapsedTimer clock;
        for (clock.start();; cli.waitForReadyRead(50)) {
            pending += cli.readAllStandardOutput();
            for (int end; (end = pending.indexOf('\n')) >= 0; pending.remove(0, end + 1))
                events << QJsonDocument::fromJson(pending.left(end)).object();
            if (std::count_if(events.cbegin(), events.cend(), match) >= count)
                return true;
            if (clock.elapsed() > timeout_ms || cli.state() == QProcess::NotRunning)
                return false;
        }
    }
    bool write(const QString &name, const QByteArray &bytes)
    {
        QFile file(dir.filePath(name));
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
    }
};

// Random bytes not ending in the pad byte, so that a saved image with its
// padding stripped compares whole.
QByteArray random_image(int size)
{
    QByteArray bytes(size, 0);
    for (char &c : bytes)
        c = char(QRandomGenerator::global()->bounded(256));
    bytes[size - 1] = 'E';
    return bytes;
}

} // namespace

class TestCli : public QObject
{
    Q_OBJECT

private slots:
    void help_names_every_command_data();
    void help_names_every_command();
    void list_finds_the_modules_only();
    void audio_on_three_modules_one_refusing();
    void query_json_reads_back();
    void module_text_shown_escaped_data();
    void module_text_shown_escaped();
    void bad_input_sends_nothing_data();
    void bad_input_sends_nothing();
    void interrupt_cancels_on_the_wire_data();
    void interrupt_cancels_on_the_wire();
    void unsaved_record_shown_whole();
    void watch_serves_each_plug_in_once();
    void watch_serves_each_module_once_data();
    void watch_serves_each_module_once();
    void watch_again_policy_data();
    void watch_again_policy();
    void trace_shows_the_layers_asked_for_data();
    void trace_shows_the_layers_asked_for();
};

void TestCli::help_names_every_command_data()
{
    QTest::addColumn<QString>("command");
    for (const char *command : {"list", "query", "audio", "firmware", "watch", "report", "db init", "upload"})
        QTest::newRow(command) << command;
}

// kv20-cli --help lists every command with its usage, and each describes
// itself under the same usage.
void TestCli::help_names_every_command()
{
    QFETCH(QString, command);
    Bench b;
    QCOMPARE(b.run({"--help"}), 0);
    QCOMPARE(b.out_lines().filter(QRegularExpression("^  " + command + "( |$)")).size(), 1);
    QCOMPARE(b.run(command.split(' ') << "--help"), 0);
    QVERIFY(b.out_lines().value(0).startsWith("Usage: kv20-cli " + command));
}

void TestCli::list_finds_the_modules_only()
{
    Bench b;
    // Behind a hub behind a hub, and on a port of the first hub.
    const QStringList usb_ports {"1-1.4.2", "1-1.3"};
    QVERIFY(b.start_sims({{"--quiet", "--usb-port=" + usb_ports[0]},
                          {"--quiet", "--identity=alt", "--usb-port=" + usb_ports[1]},
                          {"--quiet", "--identity=other"}}));
    QCOMPARE(b.run({"list"}), 0);
    const QString name = QStringLiteral("KV20 Simulated Module (%1)");
    QStringList expected, json_expected;
    for (int i : {0, 1}) {
        expected << b.port(i) + "\t/dev/" + b.port(i) + "\t" + name.arg(b.port(i)) + "\t" + usb_ports[i];
        json_expected << QString("{\"name\":\"%1\",\"node\":\"/dev/%2\",\"port\":\"%2\",\"slot\":\"%3\"}")
                             .arg(name.arg(b.port(i)), b.port(i), usb_ports[i]);
    }
    // In the order of the device tree's names, which need not be the order
    // the simulators started in.
    QStringList lines = b.out_lines();
    QCOMPARE(lines.size(), 2);
    QCOMPARE(QSet<QString>(lines.begin(), lines.end()), QSet<QString>(expected.begin(), expected.end()));
    QCOMPARE(b.run({"list", "--json"}), 0);
    lines = b.out_lines();
    QCOMPARE(lines.size(), 2);
    QCOMPARE(QSet<QString>(lines.begin(), lines.end()), QSet<QString>(json_expected.begin(), json_expected.end()));
}

void TestCli::audio_on_three_modules_one_refusing()
{
    Bench b;
    const QByteArray image = random_image(5000);
    QVERIFY(b.write("音频 文件.img", image));
    QList<QStringList> args = b.saving_sims(3);
    args[1] << "--nak-block=2" << "--nak-times=5";
    QVERIFY(b.start_sims(args));

    QCOMPARE(b.run({"audio", b.dir.filePath("音频 文件.img"), "--all", "--operator", " op-17 ", "--work-order", "WO-9"}), 1);
    const QStringList out = b.out_lines();
    QVERIFY(out.contains(b.port(0) + ": ok"));
    QVERIFY(out.contains(b.port(1) + ": failed: transfer error -4"));
    QVERIFY(out.contains(b.port(2) + ": ok"));
    QCOMPARE(read_file(b.dir.filePath("got0")), image);
    QCOMPARE(read_file(b.dir.filePath("got2")), image);
    QCOMPARE(b.journal().size(), 3);
    for (const QStringList &r : b.journal()) {
        QCOMPARE(r.at(1), QStringLiteral("cli"));
        QCOMPARE(r.at(11), r.at(2) == b.port(1) ? QStringLiteral("failed") : QStringLiteral("ok"));
        QCOMPARE(r.at(8), b.dir.filePath("音频 文件.img"));
        // Who and what for, on the failed record as on the others.
        QCOMPARE(r.value(journal_format::operator_id) + ' ' + r.value(journal_format::work_order), "op-17 WO-9");
    }
}

void TestCli::query_json_reads_back()
{
    Bench b;
    QVERIFY(b.start_sims({{"--quiet", "--variant=wifi", "--serial=SN-7", "--mac=a0:b1", "--audio-version=A-3"}}));
    QCOMPARE(b.run({"query", "--port", "/dev/" + b.port(0), "--variant", "wifi", "--json"}), 0);
    const QStringList lines = b.out_lines();
    QCOMPARE(lines.size(), 1);
    const QJsonObject result = QJsonDocument::fromJson(lines.at(0).toUtf8()).object();
    QCOMPARE(result.value("port").toString(), b.port(0));
    QCOMPARE(result.value("event").toString(), QStringLiteral("result"));
    QCOMPARE(result.value("result").toString(), QStringLiteral("ok"));
    QCOMPARE(result.value("detail").toString(), QString());
    QCOMPARE(result.value("device_number").toString(), QStringLiteral("SN-7"));
    QCOMPARE(result.value("imei_or_mac").toString(), QStringLiteral("a0:b1"));
    QCOMPARE(result.value("iccid_or_audio_version").toString(), QStringLiteral("A-3"));
    QVERIFY(!result.value("device_version").toString().isEmpty());
}

void TestCli::module_text_shown_escaped_data()
{
    QTest::addColumn<QString>("option");  // of the simulator
    QTest::addColumn<QString>("answer");  // what the module puts in its reply
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("value");   // what the module said, as --json gives it
    QTest::addColumn<QString>("shown");   // as the plain output shows it
    const QString stamp = QStringLiteral("2026-12-06T14:21:54.636+08:00");
    // A single-value reply ends at its first line end: the rest is not the value.
    QTest::newRow("AT+LVER with a line end and a stamp")
        << "--fw-version" << "V1,0\r\n" + stamp + ",x" << "device_version" << "V1,0" << "V1,0";
    QTest::newRow("AT+LVER with a bare LF") << "--fw-version" << "V1,0\n" + stamp + ",x" << "device_version"
                                            << "V1,0\n" + stamp + ",x" << "V1,0\\n" + stamp + ",x";
    QTest::newRow("AT+INFO with a line end") << "--devno" << "D7\r\n" + stamp << "device_number"
                                             << "D7\r\n" + stamp << "D7\\r\\n" + stamp;
    QTest::newRow("screen cleared, title set") << "--fw-version" << "\x1b[2J\x1b]0;title\aV2" << "device_version"
                                               << "\x1b[2J\x1b]0;title\aV2" << "\\x1b[2J\\x1b]0;title\\x07V2";
    QTest::newRow("tab and backslash") << "--iccid" << "89\t86\\x1b" << "iccid_or_audio_version"
                                       << "89\t86\\x1b" << "89\\t86\\x1b";
}

// Whatever a module answers reaches the terminal as text: one line per
// module, no control character; --json keeps the exact value.
void TestCli::module_text_shown_escaped()
{
    QFETCH(QString, option);
    QFETCH(QString, answer);
    QFETCH(QString, field);
    QFETCH(QString, value);
    QFETCH(QString, shown);
    Bench b;
    QVERIFY(b.start_sims({{"--quiet", option + '=' + answer}}));
    const auto raw_controls = [](const QByteArray &out) {
        return std::count_if(out.cbegin(), out.cend(), [](char c) { return uchar(c) < 0x20 || c == 0x7f; });
    };
    QCOMPARE(b.run({"query", "--port", b.port(0)}), 0);
    QByteArray out = b.cli.readAllStandardOutput();
    QCOMPARE(raw_controls(out), 1);  // the line's end
    QVERIFY2(out.contains(' ' + field.toUtf8() + '=' + shown.toUtf8() + (field == "device_version" ? "\n" : " ")),
             out.toPercentEncoding(" :/=").constData());
    QCOMPARE(b.run({"query", "--port", b.port(0), "--json"}), 0);
    out = b.cli.readAllStandardOutput();
    QCOMPARE(raw_controls(out), 1);
    QCOMPARE(QJsonDocument::fromJson(out).object().value(field).toString(), value);
}

void TestCli::bad_input_sends_nothing_data()
{
    QTest::addColumn<QStringList>("args");  // %P: the first module's port, %D: the bench folder
    QTest::addColumn<int>("exit_code");
    QTest::addColumn<QString>("message");
    QTest::newRow("missing image") << QStringList {"audio", "%D/absent.img", "--all"} << 1 << "image not found";
    QTest::newRow("directory as image") << QStringList {"firmware", "%D", "--all"} << 1 << "image not found";
    QTest::newRow("FIFO as image") << QStringList {"audio", "%D/fifo.img"} << 1 << "image not found";
    // A Windows path reads as typed; an escape sequence in it is still written out.
    QTest::newRow("Windows path as image") << QStringList {"audio", "C:\\images\\sound\x1b[2J.img"} << 1
                                           << "image not found: C:\\images\\sound\\x1b[2J.img\n";
    // %F: every port of the bench, in whatever order the ports' numbers put them.
    QTest::newRow("unknown port") << QStringList {"query", "--port", "pts/999"} << 2 << "found: %F";
    QTest::newRow("port given twice") << QStringList {"query", "--port", "%P", "--port", "/dev/%P"} << 2 << "twice";
    QTest::newRow("unknown command") << QStringList {"lst"} << 2 << "unknown command \"lst\"";
    QTest::newRow("unknown option") << QStringList {"query", "--speed", "9"} << 2 << "speed";
    QTest::newRow("unknown variant") << QStringList {"query", "--variant", "lte"} << 2 << "lte";
    QTest::newRow("operator with a control character")
        << QStringList {"query", "--all", "--operator", "op\x1b" "7"} << 2 << "--operator holds a control character";
    QTest::newRow("empty work order") << QStringList {"query", "--all", "--work-order", " "} << 2
                                      << "--work-order takes a non-empty value";
}

void TestCli::bad_input_sends_nothing()
{
    QFETCH(QStringList, args);
    QFETCH(int, exit_code);
    QFETCH(QString, message);
    Bench b;
    QVERIFY(b.start_sims({{}, {}}));
    QCOMPARE(mkfifo(QFile::encodeName(b.dir.filePath("fifo.img")).constData(), 0600), 0);
    args.replaceInStrings("%P", b.port(0)).replaceInStrings("%D", b.dir.path());
    QCOMPARE(b.run(args, 10000), exit_code);
    const QString err = QString::fromUtf8(b.cli.readAllStandardError());
    if (message.endsWith("%F")) {
        message.chop(2);
        for (int i = 0; i < int(b.sims.size()); ++i)
            QVERIFY2(err.contains(QRegularExpression("\\b" + QRegularExpression::escape(b.port(i)) + "\\b")), qPrintable(err));
    }
    QVERIFY2(err.contains(message.replace("%P", b.port(0))), qPrintable(err));
    // One failed record per module for an image the modules never got.
    QCOMPARE(b.journal().size(), exit_code == 1 ? (args.contains("--all") ? 2 : 1) : 0);
    for (auto &sim : b.sims)
        QVERIFY(!sim->stderr_log().contains("command "));
}

void TestCli::interrupt_cancels_on_the_wire_data()
{
    QTest::addColumn<QStringList>("command");  // %I: the image
    QTest::addColumn<int>("signal_number");    // 0: none, the reader of its output goes instead
    QTest::addColumn<int>("exit_code");
    QTest::addColumn<int>("lines_read");       // by that reader, `head -n N`
    QTest::newRow("audio --all, Ctrl-C") << QStringList {"audio", "%I", "--all"} << int(SIGINT) << 130 << 0;
    QTest::newRow("line mode, Ctrl-C") << QStringList {"watch", "audio", "%I"} << int(SIGINT) << 130 << 0;
    QTest::newRow("line mode, session dropped") << QStringList {"watch", "audio", "%I"} << int(SIGHUP) << 129 << 0;
    QTest::newRow("audio --all, output closed") << QStringList {"audio", "%I", "--all", "--json"} << 0 << 141 << 1;
    // Past both arrivals and a first progress event each: both transfers
    // under way when the reader goes.
    QTest::newRow("line mode, output closed") << QStringList {"watch", "audio", "%I", "--json"} << 0 << 141 << 4;
}

void TestCli::interrupt_cancels_on_the_wire()
{
    QFETCH(QStringList, command);
    QFETCH(int, signal_number);
    QFETCH(int, exit_code);
    QFETCH(int, lines_read);
    Bench b;
    QVERIFY(b.write("image.bin", random_image(200000)));
    QVERIFY(b.start_sims({{"--pace"}, {"--pace"}}));
    if (lines_read > 0) {
        b.cli.setStandardOutputProcess(&b.reader);
        b.reader.start("head", {"-n", QString::number(lines_read)});
    }
    b.start_cli(command.replaceInStrings("%I", b.dir.filePath("image.bin")));
    // Both transfers under way: each module has taken a block.
    for (auto &sim : b.sims)
        QVERIFY(sim->wait_for_log("block 2 ", 10000));
    QElapsedTimer clock;
    clock.start();
    if (signal_number != 0)
        ::kill(pid_t(b.cli.processId()), signal_number);
    QVERIFY(b.cli.waitForFinished(10000));
    qInfo() << "signal or closed output to exit:" << clock.elapsed() << "ms";
    QCOMPARE(b.cli.exitStatus(), QProcess::NormalExit);
    QCOMPARE(b.cli.exitCode(), exit_code);
    for (auto &sim : b.sims)
        QVERIFY(sim->wait_for_log("cancelled by the sender", 3000));
    const QList<QStringList> records = b.journal();
    QCOMPARE(records.size(), 2);
    for (const QStringList &r : records)
        QCOMPARE(r.mid(11, 2), QStringList({"failed", "interrupted"}));
}

// Neither the journal nor the side file takes a byte past a file size limit:
// both writes stop part way and are cut back, and the record is on standard
// error, whole.
void TestCli::unsaved_record_shown_whole()
{
    Bench b;
    const QString folders = QString(120, 'a') + '/' + QString(120, 'b');
    const QString image = b.dir.filePath(folders + "/image.img");
    QVERIFY(QDir(b.dir.path()).mkpath(folders) && b.write(folders + "/image.img", random_image(3000)));
    const QByteArray journal = "\xEF\xBB\xBFtime,tool,port\r\n" + QByteArray(300, 'x') + "\r\n";
    QVERIFY(b.write("kv20-journal.csv", journal));
    QVERIFY(b.start_sims({{"--quiet", "--strip-padding", "--save-image=" + b.dir.filePath("got")}}));
    // An ignored SIGXFSZ stays ignored across exec: writes past the limit fail.
    b.start_cli({"-c", "trap '' XFSZ; exec prlimit --fsize=" + QString::number(journal.size() + 100) + " \"$0\" \"$@\"",
                 KV20_BIN_DIR "/kv20-cli", "audio", image, "--all"},
                QStringLiteral("sh"));
    QVERIFY(b.cli.waitForFinished(30000));
    QCOMPARE(b.cli.exitCode(), 3);
    QCOMPARE(read_file(b.dir.filePath("got")), read_file(image));
    // Not a journal of this version's: set aside whole; the new one it
    // started is cut back to nothing.
    const QStringList older = QDir(b.dir.path()).entryList({"kv20-journal-older-*.csv"});
    QCOMPARE(older.size(), 1);
    QCOMPARE(read_file(b.dir.filePath(older.first())), journal);
    QCOMPARE(read_file(b.dir.filePath("kv20-journal.csv")), QByteArray());
    const QStringList side = QDir(b.dir.path()).entryList({"kv20-journal-unsaved-*"});
    QVERIFY(side.size() <= 1 && (side.isEmpty() || read_file(b.dir.filePath(side.first())).isEmpty()));
    const QStringList shown = QString::fromUtf8(b.cli.readAllStandardError()).split('\n').filter("unsaved record: ");
    QCOMPARE(shown.size(), 1);
    const QList<QStringList> record = read_csv(shown.first().section("unsaved record: ", 1).toUtf8() + "\r\n");
    QCOMPARE(record.size(), 1);
    QCOMPARE(record.first().mid(1, 3), QStringList({"cli", b.port(0), "audio"}));
    QCOMPARE(record.first().at(8), image);
    QCOMPARE(record.first().mid(11, 2), QStringList({"ok", ""}));
}

// A shift in line mode: two modules present at the start, one plugged in
// later, pulled out mid-transfer and plugged in again, then the image file
// replaced under the running mode. Modules left plugged in are not served
// again, however many rescans pass.
void TestCli::watch_serves_each_plug_in_once()
{
    Bench b;
    const QByteArray image = random_image(6000);
    QVERIFY(b.write("image.bin", image));
    QList<QStringList> args = b.saving_sims(5);
    args[2] = QStringList {"--pace"};  // the one pulled out mid-transfer
    for (int i = 0; i < 5; ++i)
        args[i] << QString("--usb-port=1-1.%1").arg(i + 1);
    QVERIFY(b.start_sims(args.mid(0, 2)));
    b.start_cli({"watch", "audio", b.dir.filePath("image.bin"), "--json", "--rescan-ms", "50", "--operator", "op-3"});
    const auto result = [](const char *outcome) {
        return [=](const QJsonObject &e) { return e["event"] == "result" && e["result"] == outcome; };
    };
    QVERIFY(b.wait_for_events(result("ok"), 2));

    for (int i = 2; i < 4; ++i) {
        QVERIFY(b.start_sims({args.at(i)}) && b.announce("add"));
        if (i == 2) {
            QVERIFY(b.sims.at(2)->wait_for_log("block 2 ", 10000));
            b.sims.at(2)->stop();
            QVERIFY(b.announce("remove"));
            QVERIFY(b.wait_for_events([](const QJsonObject &e) { return e["detail"] == "unplugged"; }, 1));
        }
    }
    QVERIFY(b.wait_for_events(result("ok"), 3));

    QVERIFY(b.write("image.bin", random_image(6000)));
    QVERIFY(b.start_sims({args.at(4)}) && b.announce("add"));
    QVERIFY(b.wait_for_events([](const QJsonObject &e) { return e["detail"] == "image changed"; }, 1));
    ::kill(pid_t(b.cli.processId()), SIGINT);
    QVERIFY(b.cli.waitForFinished(5000));
    QCOMPARE(b.cli.exitCode(), 130);
    QVERIFY(b.wait_for_events([](const QJsonObject &e) { return e["event"] == "summary" && e["served"] == 5; }, 1, 0));

    for (int i : {0, 1, 3}) {
        QCOMPARE(read_file(b.dir.filePath(QString("got%1").arg(i))), image);
        QCOMPARE(b.sims.at(i)->stderr_log().count("command AT+XUPDATE"), 1);
    }
    QVERIFY(!b.sims.at(4)->stderr_log().contains("AT+XUPDATE"));
    QVERIFY(!b.sims.at(4)->stderr_log().contains("block"));
    const QList<QStringList> records = b.journal();
    QCOMPARE(records.size(), 5);
    QStringList outcomes;
    for (const QStringList &r : records)
        outcomes << r.at(2) + ' ' + r.value(16) + ' ' + r.value(journal_format::operator_id) + ' ' + r.at(12);
    const QStringList expected {b.port(0) + " 1-1.1 op-3 ", b.port(1) + " 1-1.2 op-3 ", b.port(2) + " 1-1.3 op-3 unplugged",
                                b.port(3) + " 1-1.4 op-3 ", b.port(4) + " 1-1.5 op-3 image changed"};
    QCOMPARE(QSet<QString>(outcomes.begin(), outcomes.end()), QSet<QString>(expected.begin(), expected.end()));
}

void TestCli::watch_serves_each_module_once_data()
{
    QTest::addColumn<QStringList>("sim_args");
    QTest::addColumn<QString>("restart");     // when the test restarts the module: "block 2", "result", or never;
                                              // "twin": after the result, its twin is plugged in beside it
    QTest::addColumn<QByteArray>("same_module_ms");  // KV20_SAME_MODULE_MS, empty: two minutes
    QTest::addColumn<int>("downloads");       // AT+XUPDATE commands the modules hear
    QTest::addColumn<QStringList>("details"); // of the journal's records, in order ("": ok)
    QTest::addColumn<int>("already_done");
    QTest::newRow("restarting after its download") << QStringList {"--restart-after-download=300"} << ""
                                                   << QByteArray() << 1 << QStringList {""} << 1;
    QTest::newRow("restarting after a failed download")
        << QStringList {"--nak-block=2", "--nak-times=5"} << "result" << QByteArray() << 2
        << QStringList {"transfer error -4", "transfer error -4"} << 0;
    QTest::newRow("same port name gone mid-transfer and back") << QStringList {"--pace"} << "block 2" << QByteArray()
                                                               << 2 << QStringList {"unplugged", ""} << 0;
    QTest::newRow("port ready on the second try") << QStringList {"--not-ready-ms=300"} << "" << QByteArray() << 1
                                                  << QStringList {""} << 0;
    // A factory default or a cloned image: one identity, two modules.
    QTest::newRow("same identity on another port") << QStringList {"--devno=KV20-CLONE", "--imei=860000000000007"}
                                                   << "twin" << QByteArray() << 2 << QStringList {"", ""} << 0;
    // Away for a second, with a bound of 100 ms.
    QTest::newRow("same port after the bound") << QStringList() << "result" << QByteArray("100") << 2
                                               << QStringList {"", ""} << 0;
}

// A module is known by its identity, not by its port's name: one restarting
// after its update comes back under the same name and is not served again;
// one whose operation did not end ok is, and so is one with the same
// identity on another port, or on the same port once the bound has passed.
void TestCli::watch_serves_each_module_once()
{
    QFETCH(QStringList, sim_args);
    QFETCH(QString, restart);
    QFETCH(QByteArray, same_module_ms);
    QFETCH(int, downloads);
    QFETCH(QStringList, details);
    QFETCH(int, already_done);
    Bench b;
    QVERIFY(b.write("image.bin", random_image(30000)));
    QVERIFY(b.start_sims({sim_args}));
    if (!same_module_ms.isEmpty())
        qputenv("KV20_SAME_MODULE_MS", same_module_ms);
    b.start_cli({"watch", "audio", b.dir.filePath("image.bin"), "--json"});
    qunsetenv("KV20_SAME_MODULE_MS");
    const auto result = [](const QJsonObject &e) { return e["event"] == "result"; };
    if (restart == "twin") {
        QVERIFY(b.wait_for_events(result, 1) && b.start_sims({sim_args}));
    } else if (!restart.isEmpty()) {
        QVERIFY(restart == "result" ? b.wait_for_events(result, 1) : b.sims.at(0)->wait_for_log("block 2 ", 10000));
        ::kill(pid_t(b.sims.at(0)->process().processId()), SIGUSR1);
    }
    QVERIFY(b.wait_for_events(result, details.size() + already_done));
    ::kill(pid_t(b.cli.processId()), SIGINT);
    QVERIFY(b.cli.waitForFinished(5000));
    QCOMPARE(b.cli.exitCode(), 130);

    int heard = 0;
    for (auto &sim : b.sims)
        heard += sim->stderr_log().count("command AT+XUPDATE");
    QCOMPARE(heard, downloads);
    QStringList journalled;
    for (const QStringList &r : b.journal())
        journalled << r.at(12);
    QCOMPARE(journalled, details);
    QCOMPARE(int(std::count_if(b.events.cbegin(), b.events.cend(),
                               [](const QJsonObject &e) { return e["already_done"] == true; })),
             already_done);
}

// An audio replacement on a module found by discovery: standard error holds
// the trace of the layers asked for (every line of them, at least one), and
// nothing else; QT_LOGGING_RULES comes after --trace, as Qt documents.
void TestCli::watch_again_policy_data()
{
    QTest::addColumn<QString>("again");
    QTest::addColumn<bool>("same_image");  // the module had this image before, else another
    QTest::addColumn<int>("downloads");    // AT+XUPDATE commands the module hears in all
    QTest::addColumn<QString>("result");   // of the watch's record
    QTest::addColumn<bool>("names_it");    // its again_of names the earlier record
    QTest::newRow("block") << "block" << true << 1 << "refused" << true;
    QTest::newRow("warn") << "warn" << true << 2 << "ok" << true;
    QTest::newRow("allow") << "allow" << true << 2 << "ok" << false;
    QTest::newRow("block, another image before") << "block" << false << 2 << "ok" << false;
}

// A module served before in this folder's journals, by identity, operation
// and image: written to again, named, or left alone, as the policy says.
void TestCli::watch_again_policy()
{
    QFETCH(QString, again);
    QFETCH(bool, same_image);
    QFETCH(int, downloads);
    QFETCH(QString, result);
    QFETCH(bool, names_it);
    Bench b;
    QVERIFY(b.write("image.bin", random_image(4000)) && b.write("other.bin", random_image(4000)));
    QVERIFY(b.start_sims({{"--usb-port=1-1.1", "--devno=DN-AGAIN", "--imei=860000000000031"}}));
    QCOMPARE(b.run({"audio", b.dir.filePath(same_image ? "image.bin" : "other.bin"), "--port", b.port(0)}), 0);
    b.start_cli({"watch", "audio", b.dir.filePath("image.bin"), "--json", "--again", again});
    QVERIFY(b.wait_for_events([](const QJsonObject &e) { return e["event"] == "result"; }, 1));
    ::kill(pid_t(b.cli.processId()), SIGINT);
    QVERIFY(b.cli.waitForFinished(5000));
    QCOMPARE(b.cli.exitCode(), 130);
    QCOMPARE(b.sims.at(0)->stderr_log().count("command AT+XUPDATE"), downloads);
    const QList<QStringList> records = b.journal();
    QCOMPARE(records.size(), 2);
    const QStringList &earlier = records.at(0), &now = records.at(1);
    QCOMPARE(now.at(journal_format::result), result);
    QCOMPARE(now.at(journal_format::again_of), names_it ? earlier.at(journal_format::record_id) : QString());
    QCOMPARE(now.at(journal_format::again_checked), again == "allow" ? QString() : QString("journals"));
    if (result == "refused")
        QCOMPARE(now.at(journal_format::detail), "done before at " + earlier.at(journal_format::station) + ' '
                                                     + earlier.at(journal_format::port) + ' ' + earlier.at(journal_format::time));
}

void TestCli::trace_shows_the_layers_asked_for_data()
{
    QTest::addColumn<QStringList>("trace");
    QTest::addColumn<QByteArray>("rules");  // QT_LOGGING_RULES
    QTest::addColumn<QString>("layer");     // empty: no line at all
    QTest::newRow("no --trace") << QStringList() << QByteArray() << QString();
    // The station serves until closed: its lines are read once it has looked for modules.
    QTest::newRow("station, no --trace") << QStringList {"station"} << QByteArray() << QString();
    QTest::newRow("station, --trace discovery") << QStringList {"station", "--trace", "discovery"} << QByteArray()
                                                << "discovery";
    for (const char *layer : {"link", "worker", "protocol", "xmodem", "discovery", "journal"})
        QTest::newRow(layer) << QStringList {"--trace", layer} << QByteArray() << QString(layer);
    QTest::newRow("QT_LOGGING_RULES alone") << QStringList() << QByteArray("kv20.journal.debug=true") << "journal";
    QTest::newRow("QT_LOGGING_RULES after --trace")
        << QStringList {"--trace", "all"} << QByteArray("kv20.*.debug=false;kv20.xmodem.debug=true") << "xmodem";
}

void TestCli::trace_shows_the_layers_asked_for()
{
    QFETCH(QStringList, trace);
    QFETCH(QByteArray, rules);
    QFETCH(QString, layer);
    Bench b;
    const QByteArray image = random_image(3000);
    QVERIFY(b.write("image.bin", image));
    QVERIFY(b.start_sims({{"--quiet"}}));
    qputenv("QT_LOGGING_RULES", rules);
    const bool station = trace.value(0) == "station";
    QByteArray err;
    if (station) {
        QVERIFY(b.write("station.ini", "[recipe]\noperation=audio\nimage=image.bin\nsound=off\nimage_sha256="
                                           + QCryptographicHash::hash(image, QCryptographicHash::Sha256).toHex() + "\n"));
        b.start_cli(trace.mid(1), KV20_BIN_DIR "/kv20-station");
        // Nobody signs in: the station only looks for modules, which is
        // discovery's to trace, at its start and every second after.
        if (layer.isEmpty())
            QTest::qWait(2500);
        else
            QTRY_VERIFY_WITH_TIMEOUT((err += b.cli.readAllStandardError()).contains("kv20." + layer.toUtf8()), 20000);
        b.cli.kill();
        QVERIFY(b.cli.waitForFinished(5000));
    }
    const int status = station ? 0 : b.run(QStringList {"audio", b.dir.filePath("image.bin")} + trace);
    qunsetenv("QT_LOGGING_RULES");
    QCOMPARE(status, 0);
    // The station's platform may have its say too (Qt's own categories).
    const QStringList lines = QString::fromUtf8(err + b.cli.readAllStandardError())
                                  .split('\n', Qt::SkipEmptyParts)
                                  .filter(QRegularExpression(station ? "^kv20\\." : ""));
    QCOMPARE(lines.isEmpty(), layer.isEmpty());
    QCOMPARE(lines.filter(QRegularExpression("^kv20\\." + layer + ": ")), lines);
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
