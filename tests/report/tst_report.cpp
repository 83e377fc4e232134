// kv20-cli report as a supervisor runs it: its own process over journals of
// three stations written by the journal's own writer (a side file, a torn
// last record, a foreign line, markup and Chinese in the fields), judged by
// its figures, its exit status and messages, and by the page as Chromium
// lays it out; rows read or named also in this process, at reads small
// enough to put every byte of a record across a refill.
#include "journal/journal.h"
#include "report/journal_reading.h"
#include "report/report_json.h"
#include "report/shift_tally.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const char hostile_number[] = "<script>alert(1)</script>";
const char hostile_mac[] = "<img src=x onerror=\"document.title='pwned'\">";
const char hostile_detail[] = "cable <loose> & \"reseated\", 'twice'";
const char sound[] = "5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a";
const char old_sound[] = "0d0d0d0d0d0d0d0d0d0d0d0d0d0d0d0d0d0d0d0d0d0d0d0d0d0d0d0d0d0d0d0d";
const char firmware[] = "f1f1f1f1f1f1f1f1f1f1f1f1f1f1f1f1f1f1f1f1f1f1f1f1f1f1f1f1f1f1f1f1";

struct Row
{
    const char *file, *time, *port, *operation, *device_number, *imei_or_mac, *image, *sha;
    qint64 bytes;
    const char *detail;  // null: ok
    qint64 ms;
    const char *slot = "";
    const char *operator_id = "", *work_order = "", *recipe = "";
};
const char recipe_1[] = "c1c1c1c1c1c1c1c1c1c1c1c1c1c1c1c1c1c1c1c1c1c1c1c1c1c1c1c1c1c1c1c1";
const char recipe_2[] = "e2e2e2e2e2e2e2e2e2e2e2e2e2e2e2e2e2e2e2e2e2e2e2e2e2e2e2e2e2e2e2e2";

// Four modules pass first time (A, C, F, G), B after a retest, D twice
// failed, E failed with markup in its fields, H queried, failed its download
// and was queried again; one record without identity. Hours 06 to 10, 09 empty.
// op-1 served A and B's failure for WO-1, op-2 B's retest (WO-1) and C (WO-2),
// station1 changing its recipe before C.
// Durations are exact in the report's histogram. odd%2.csv and hostile.csv
// stand apart: a "%1" in a name, markup in every field shown.
const Row rows[] = {
    {"line2/station1/kv20-journal.csv", "06:05", "ttyACM0", "query", "DN-A", "8600A", "", "", -1, nullptr, 150, "1-1.2", "op-1", "WO-1", recipe_1},
    {"line2/station1/kv20-journal.csv", "06:10", "ttyACM0", "audio", "DN-A", "8600A", "/srv/images/sound.img", sound, 1000, nullptr, 40000, "1-1.2", "op-1", "WO-1", recipe_1},
    {"line2/station1/kv20-journal.csv", "06:20", "ttyACM1", "audio", "DN-B", "8600B", "/srv/images/sound.img", sound, 1000, "no acknowledgement", 5000, "", "op-1", "WO-1", recipe_1},
    {"line2/station1/kv20-journal.csv", "06:40", "ttyACM1", "audio", "DN-B", "8600B", "/srv/images/sound.img", sound, 1000, nullptr, 41600, "1-1.3", "op-2", "WO-1", recipe_1},
    {"line2/station1/kv20-journal.csv", "07:05", "ttyACM0", "audio", "DN-C", "8600C", "C:\\images\\sound.img", sound, 1000, nullptr, 40960, "1-1.3", "op-2", "WO-2", recipe_2},
    {"line2/station1/kv20-journal.csv", "07:30", "ttyACM1", "audio", "", "", "/srv/images/sound.img", sound, 1000, "no reply", 16000},
    {"line2/station2/kv20-journal.csv", "07:10", "ttyACM0", "audio", "=D4", "8600D", "/srv/images/sound.img", sound, 1000, "transfer error -4", 30000, "2-1"},
    {"line2/station2/kv20-journal.csv", "07:20", "ttyACM0", "audio", "=D4", "8600D", "/srv/images/sound.img", sound, 1000, "transfer error -4", 31008, "2-1"},
    {"line2/station2/kv20-journal.csv", "08:15", "ttyACM0", "audio", hostile_number, hostile_mac, "/srv/images/sound.img", sound, 1000, hostile_detail, 3000},
    {"line2/station2/kv20-journal-unsaved-20261206-071500.csv", "07:15", "ttyACM1", "firmware", "DN-F", "8600F", "/srv/fw.bin", firmware, 2000, nullptr, 90112},
    {"share/station3.csv", "10:30", "COM5", "query", "DN-G", "8600G", "", "", -1, nullptr, 140},
    {"share/station3.csv", "10:31", "COM5", "audio", "DN-G", "8600G", "D:\\音频\\提示音-旧.img", old_sound, 900, nullptr, 39040},
    {"hostile.csv", "12:00", "\"><svg onload=x>", "<script>alert(1)</script>", "<img src=x onerror=alert(2)>", "8600X", "", "",
     -1, "</text><b onclick=alert(3)>", 100},
    {"odd%2.csv", "11:00", "COM1", "q%1uery", "DN-Q", "8600Q", "", "", -1, nullptr, 100},
    {"share/station3.csv", "10:35", "COM5", "query", "DN-H", "8600H", "", "", -1, nullptr, 150},
    {"share/station3.csv", "10:40", "COM5", "audio", "DN-H", "8600H", "D:\\音频\\提示音-旧.img", old_sound, 900, "transfer error -2", 20000},
    {"share/station3.csv", "10:45", "COM5", "query", "DN-H", "8600H", "", "", -1, nullptr, 160},
};
const QStringList journals {"line2/station1/kv20-journal.csv", "line2/station2/kv20-journal.csv",
                            "line2/station2/kv20-journal-unsaved-20261206-071500.csv", "share/station3.csv"};

bool append(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::Append) && file.write(bytes) == bytes.size();
}

bool write_fixture(const QDir &dir)
{
    for (const QString &journal : journals + QStringList {"odd%2.csv", "hostile.csv"})
        if (!append(dir.filePath(journal), "\xEF\xBB\xBF" + Journal::header_row()))
            return false;
    for (const Row &r : rows) {
        OperationRecord record;
        record.started = QDateTime(QDate(2026, 12, 6), QTime::fromString(r.time, "HH:mm"), Qt::OffsetFromUTC, 8 * 3600);
        record.tool = "cli";
        record.port = r.port;
        record.operation = r.operation;
        record.device_number = QString::fromUtf8(r.device_number);
        record.imei_or_mac = QString::fromUtf8(r.imei_or_mac);
        record.image = QString::fromUtf8(r.image);
        record.image_bytes = r.bytes;
        record.image_sha256 = r.sha;
        record.ok = !r.detail;
        record.detail_read_back = QString::fromUtf8(r.detail);
        record.duration_ms = r.ms;
        record.slot = QString::fromUtf8(r.slot);
        record.operator_id = QString::fromUtf8(r.operator_id);
        record.work_order = QString::fromUtf8(r.work_order);
        record.recipe_sha256 = r.recipe;
        if (!append(dir.filePath(r.file), Journal::record_row(record)))
            return false;
    }
    return append(dir.filePath(journals[0]), "2026-12-06T08:50:00.000+08:00,cli,ttyACM0,aud")
           && append(dir.filePath(journals[2]), "hello from another program\r\n")
           && append(dir.filePath("odd%2.csv"), "hello\r\n")
           && append(dir.filePath("header-only.csv"), "\xEF\xBB\xBF" + Journal::header_row())
           && append(dir.filePath("binary.bin"), QByteArray("\x7f" "ELF\x02\x01\x01\0\0\0,\"\n", 14).repeated(50))
           && QDir(dir.path()).mkpath("a-folder");
}

struct Run
{
    int status = -1;
    QByteArray out, err;
};

Run report(const QString &dir, const QStringList &args)
{
    QProcess cli;
    cli.setWorkingDirectory(dir);
    cli.start(KV20_BIN_DIR "/kv20-cli", QStringList {"report"} + args);
    Run run;
    if (cli.waitForFinished(30000) && cli.exitStatus() == QProcess::NormalExit)
        run.status = cli.exitCode();
    run.out = cli.readAllStandardOutput();
    run.err = cli.readAllStandardError();
    return run;
}

QJsonValue parse(const QByteArray &json)
{
    return QJsonDocument::fromJson("[" + json + "]").array().at(0);
}

// The figures of one journal as the report reads it, `read_bytes` at a time.
QJsonObject figures_of(const QString &path, size_t read_bytes)
{
    ShiftTally tally(false, 0, false, 0);
    QString error;
    if (!read_journal(path, "station", &tally, &error, read_bytes))
        return {{"error", error}};
    return parse(report_json(tally.figures())).toObject();
}

} // namespace

class TestReport : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

private slots:
    void initTestCase() { QVERIFY(write_fixture(QDir(dir.path()))); }
    void figures_as_the_journals_imply_data();
    void figures_as_the_journals_imply();
    void rows_read_or_named_data();
    void rows_read_or_named();
    void figures_whatever_the_order_of_records_data();
    void figures_whatever_the_order_of_records();
    void exit_status_and_message_data();
    void exit_status_and_message();
    void page_shows_journal_text_as_text_data();
    void page_shows_journal_text_as_text();
    void page_as_chromium_shows_it();
};

void TestReport::figures_as_the_journals_imply_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("totals") << "records" << QByteArray("15");
    QTest::newRow("modules") << "modules" << QByteArray("8");
    QTest::newRow("without identity") << "records_without_identity" << QByteArray("1");
    QTest::newRow("operations") << "operations" << QByteArray(R"([{"operation":"audio","records":10},{"operation":"query","records":4},{"operation":"firmware","records":1}])");
    // All: H neither passed first time nor in the end, whatever its queries said.
    QTest::newRow("yield") << "yield" << QByteArray(R"([
        {"operation":"all","modules":8,"first_pass":4,"final":5,"retests":3,"first_pass_pct":50,"final_pct":62.5},
        {"operation":"audio","modules":7,"first_pass":3,"final":4,"retests":2,"first_pass_pct":42.9,"final_pct":57.1},
        {"operation":"query","modules":3,"first_pass":3,"final":3,"retests":1,"first_pass_pct":100,"final_pct":100},
        {"operation":"firmware","modules":1,"first_pass":1,"final":1,"retests":0,"first_pass_pct":100,"final_pct":100}])");
    QTest::newRow("throughput") << "throughput" << QByteArray(R"({"bucket_hours":1,"from":"2026-12-06T06:00","to":"2026-12-06T11:00",
        "busiest":"2026-12-06T07:00","quietest":"2026-12-06T09:00","modules_per_hour":1.6,"buckets":[
        {"start":"2026-12-06T06:00","modules":2,"operations":4},{"start":"2026-12-06T07:00","modules":3,"operations":5},
        {"start":"2026-12-06T08:00","modules":1,"operations":1},{"start":"2026-12-06T09:00","modules":0,"operations":0},
        {"start":"2026-12-06T10:00","modules":2,"operations":5}]})");
    QTest::newRow("failures") << "failures" << QByteArray(R"([{"detail":"transfer error -4","records":2,"cumulative_pct":33.3},
        {"detail":"cable <loose> & \"reseated\", 'twice'","records":1,"cumulative_pct":50},
        {"detail":"no acknowledgement","records":1,"cumulative_pct":66.7},{"detail":"no reply","records":1,"cumulative_pct":83.3},
        {"detail":"transfer error -2","records":1,"cumulative_pct":100}])");
    QTest::newRow("failed modules") << "failed_modules" << QByteArray(R"({"count":3,"modules":[
        {"device_number":"=D4","imei_or_mac":"8600D","operation":"audio","detail":"transfer error -4","station":"station2","slot":"2-1","time":"2026-12-06T07:20"},
        {"device_number":"<script>alert(1)</script>","imei_or_mac":"<img src=x onerror=\"document.title='pwned'\">","operation":"audio",
         "detail":"cable <loose> & \"reseated\", 'twice'","station":"station2","port":"ttyACM0","time":"2026-12-06T08:15"},
        {"device_number":"DN-H","imei_or_mac":"8600H","operation":"audio","detail":"transfer error -2","station":"station3","port":"COM5","time":"2026-12-06T10:40"}]})");
    QTest::newRow("stations") << "stations" << QByteArray(R"([
        {"station":"station1","operations":6,"ok":4,"yield_pct":66.7,"median_ms":16000,"p95_ms":41600,"refused":0,"below":false},
        {"station":"station2","operations":4,"ok":1,"yield_pct":25,"median_ms":30000,"p95_ms":90112,"refused":0,"below":true},
        {"station":"station3","operations":5,"ok":4,"yield_pct":80,"median_ms":160,"p95_ms":39040,"refused":0,"below":false}])");
    // A slot where the record names one, whatever port its module got
    // (1-1.3); the port where it names none (station1's ttyACM1).
    QTest::newRow("slots and ports") << "ports" << QByteArray(R"([
        {"station":"station1","slot":"1-1.2","operations":2,"ok":2,"yield_pct":100,"median_ms":150,"p95_ms":40000,"below":false},
        {"station":"station1","slot":"1-1.3","operations":2,"ok":2,"yield_pct":100,"median_ms":40960,"p95_ms":41600,"below":false},
        {"station":"station1","port":"ttyACM1","operations":2,"ok":0,"yield_pct":0,"median_ms":5000,"p95_ms":16000,"below":true},
        {"station":"station2","slot":"2-1","operations":2,"ok":0,"yield_pct":0,"median_ms":30000,"p95_ms":31008,"below":true},
        {"station":"station2","port":"ttyACM0","operations":1,"ok":0,"yield_pct":0,"median_ms":3000,"p95_ms":3000,"below":true},
        {"station":"station2","port":"ttyACM1","operations":1,"ok":1,"yield_pct":100,"median_ms":90112,"p95_ms":90112,"below":false},
        {"station":"station3","port":"COM5","operations":5,"ok":4,"yield_pct":80,"median_ms":160,"p95_ms":39040,"below":false}])");
    QTest::newRow("images") << "images" << QByteArray(QByteArray(R"([
        {"sha256":")") + sound + R"(","operation":"audio","names":["sound.img"],"more_names":false,"bytes":1000,"modules":3,"ok":3,"failed":5,"stations":["station1"]},
        {"sha256":")" + old_sound + R"(","operation":"audio","names":["提示音-旧.img"],"more_names":false,"bytes":900,"modules":1,"ok":1,"failed":1,"stations":["station3"]},
        {"sha256":")" + firmware + R"(","operation":"firmware","names":["fw.bin"],"more_names":false,"bytes":2000,"modules":1,"ok":1,"failed":0,"stations":["station2"]}])");
    // A module counts for whoever served its first record: B for op-1;
    // op-1's records fall in one hour, op-2's in two.
    QTest::newRow("operators") << "operators" << QByteArray(R"([
        {"name":"","records":10,"ok":5,"yield_pct":50,"refused":0,"again":0,"modules":5,"first_pass":2,"final":2,
         "first_pass_pct":40,"final_pct":40,"hours":3,"modules_per_hour":1.7},
        {"name":"op-1","records":3,"ok":2,"yield_pct":66.7,"refused":0,"again":0,"modules":2,"first_pass":1,"final":2,
         "first_pass_pct":50,"final_pct":100,"hours":1,"modules_per_hour":2},
        {"name":"op-2","records":2,"ok":2,"yield_pct":100,"refused":0,"again":0,"modules":1,"first_pass":1,"final":1,
         "first_pass_pct":100,"final_pct":100,"hours":2,"modules_per_hour":0.5}])");
    QTest::newRow("work orders") << "work_orders" << QByteArray(R"([
        {"name":"","records":10,"ok":5,"yield_pct":50,"refused":0,"again":0,"modules":5,"first_pass":2,"final":2,
         "first_pass_pct":40,"final_pct":40,"hours":3,"modules_per_hour":1.7},
        {"name":"WO-1","records":4,"ok":3,"yield_pct":75,"refused":0,"again":0,"modules":2,"first_pass":1,"final":2,
         "first_pass_pct":50,"final_pct":100,"hours":1,"modules_per_hour":2},
        {"name":"WO-2","records":1,"ok":1,"yield_pct":100,"refused":0,"again":0,"modules":1,"first_pass":1,"final":1,
         "first_pass_pct":100,"final_pct":100,"hours":1,"modules_per_hour":1}])");
    // The recipe changed before C; the record without identity has none.
    QTest::newRow("made under") << "made_under" << QByteArray(R"([
        {"station":"station1","recipe_sha256":")" + QByteArray(recipe_1) + R"(","image_sha256":"","records":1,"first":"2026-12-06T06:05","last":"2026-12-06T06:05"},
        {"station":"station1","recipe_sha256":")" + recipe_1 + R"(","image_sha256":")" + sound + R"(","records":3,"first":"2026-12-06T06:10","last":"2026-12-06T06:40"},
        {"station":"station1","recipe_sha256":")" + recipe_2 + R"(","image_sha256":")" + sound + R"(","records":1,"first":"2026-12-06T07:05","last":"2026-12-06T07:05"},
        {"station":"station1","recipe_sha256":"","image_sha256":")" + sound + R"(","records":1,"first":"2026-12-06T07:30","last":"2026-12-06T07:30"},
        {"station":"station2","recipe_sha256":"","image_sha256":")" + sound + R"(","records":3,"first":"2026-12-06T07:10","last":"2026-12-06T08:15"},
        {"station":"station2","recipe_sha256":"","image_sha256":")" + firmware + R"(","records":1,"first":"2026-12-06T07:15","last":"2026-12-06T07:15"},
        {"station":"station3","recipe_sha256":"","image_sha256":")" + old_sound + R"(","records":2,"first":"2026-12-06T10:31","last":"2026-12-06T10:40"}])");
    QTest::newRow("unreadable") << "unreadable" << QByteArray(R"({"count":2,"rows":[
        {"file":"line2/station1/kv20-journal.csv","line":8,"reason":"cut off at the end of the file"},
        {"file":"line2/station2/kv20-journal-unsaved-20261206-071500.csv","line":3,"reason":"too few fields"}]})");
    QTest::newRow("files") << "files" << QByteArray(R"([
        {"path":"line2/station1/kv20-journal.csv","station":"station1","records":6,"unreadable":1},
        {"path":"line2/station2/kv20-journal.csv","station":"station2","records":3,"unreadable":0},
        {"path":"line2/station2/kv20-journal-unsaved-20261206-071500.csv","station":"station2","records":1,"unreadable":1},
        {"path":"share/station3.csv","station":"station3","records":5,"unreadable":0}])");
}

void TestReport::figures_as_the_journals_imply()
{
    QFETCH(QString, key);
    QFETCH(QByteArray, expected);
    const Run run = report(dir.path(), journals + QStringList {"--json"});
    QCOMPARE(run.status, 0);
    const QJsonValue got = parse(run.out).toObject().value(key), wanted = parse(expected);
    QVERIFY2(!wanted.isUndefined(), "the expected JSON does not parse");
    QVERIFY2(got == wanted, QJsonDocument(QJsonArray {got}).toJson(QJsonDocument::Compact).constData());
}

void TestReport::rows_read_or_named_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("read_bytes");
    QTest::addColumn<int>("records");
    QTest::addColumn<QStringList>("unreadable");  // "line: reason"
    // Small reads put every record, quote and line end across a refill.
    const auto row = [](const char *name, const QByteArray &body, int records, const QStringList &unreadable) {
        for (const int read_bytes : {1, 2, 3, 7, 64, int(JournalScanner::default_read_bytes)})
            QTest::addRow("%s, %d-byte reads", name, read_bytes) << body << read_bytes << records << unreadable;
    };
    const QByteArray ok = "2026-12-06T06:00:00.000+08:00,cli,COM5,query,DN,86,,,,,,ok,,10\r\n";
    // Rows of a journal from before record ids, whose header ends at duration_ms.
    const QByteArray older_header = Journal::header_row().left(Journal::header_row().indexOf(",record_id")) + "\r\n";
    const auto with_detail = [&](const QByteArray &detail) { return ok.left(ok.size() - 5) + detail + ",10\r\n"; };
    const QByteArray reply = "\"" + QByteArray("line of a reply\r\n").repeated(5000) + "\"";
    row("a line break inside quotes", "2026-12-06T06:00:00.000+08:00,cli,COM5,query,\"DN\r\n2\",86,,,,,,ok,,10\r\n"
        "2026-12-06T06:00:00+08:00,cli,COM5,query,DN,86,,,,,,maybe,,10\r\n" + ok, 2, {"4: result neither ok, failed nor refused"});
    row("a record longer than 1 MiB", QByteArray((1 << 20) + 1, 'x') + "\r\n" + ok, 1, {"2: longer than 1 MiB"});
    row("blank lines and a header again", "\r\n" + older_header + ok + "\r\n", 1, {});
    row("foreign rows", "ab\"c\",\r\n2026-12-06,cli,COM5,query,DN,86,,,,,,ok,,10\r\n" + ok + ok.left(ok.size() - 2) + ",extra\r\n",
        1, {"2: quotes out of place", "3: no time", "5: too many fields"});
    row("a torn quoted field", ok + "2026-12-06T06:00:00.000+08:00,cli,COM5,query,\"DN", 1, {"3: cut off at the end of the file"});
    row("a side file's byte-order mark before its header", ok + "\xEF\xBB\xBF" + older_header + ok, 2, {});
    row("a reply of 85 KB in quotes", with_detail(reply) + ok, 2, {});
    // A stray quote costs its own line: in an older journal, where a line
    // break may belong to a quoted value, and in one of a record a line.
    const QByteArray stray = "2026-12-06T06:00:00.000+08:00,cli,COM5,query,DN\"x,86,,,,,,ok,,10\r\n";
    row("a stray quote in an older journal", ok + stray + ok + ok, 3, {"3: quotes out of place"});
    const QByteArray current = "\xEF\xBB\xBF" + Journal::header_row();
    const auto with_id = [](const QByteArray &row, const char *id) { return row.left(row.size() - 2) + "," + id + ",s1,1-1,op,WO,,,,\r\n"; };
    const char *id = "6f1c2a47-3b52-4e0a-9d61-0f2a8c7be913";
    row("a stray quote, a record a line", current + with_id(ok, id) + with_id(stray, id) + with_id(ok, id), 2,
        {"3: quotes out of place"});
    row("a record id that is no UUID", current + with_id(ok, "6f1c2a47-3b52-4e0a-9d61-0f2a8c7be913x") + with_id(ok, id), 1,
        {"2: record_id not a UUID"});
    row("a record longer than 1 MiB with line breaks in quotes",
        with_detail(QByteArray(1 << 20, 'x') + reply) + ok.left(ok.size() - 8) + "maybe,,10\r\n" + ok, 1,
        {"2: longer than 1 MiB", "5003: result neither ok, failed nor refused"});
}

void TestReport::rows_read_or_named()
{
    QFETCH(QByteArray, body);
    QFETCH(int, read_bytes);
    QFETCH(int, records);
    QFETCH(QStringList, unreadable);
    QTemporaryDir rows_dir;
    // A body brings its own header, or is an older journal's.
    const QByteArray older_header = Journal::header_row().left(Journal::header_row().indexOf(",record_id")) + "\r\n";
    QVERIFY(append(rows_dir.filePath("kv20-journal.csv"), body.startsWith("\xEF\xBB\xBF") ? body : "\xEF\xBB\xBF" + older_header + body));
    const QJsonObject got = figures_of(rows_dir.filePath("kv20-journal.csv"), size_t(read_bytes));
    QVERIFY2(!got.contains("error"), qPrintable(got["error"].toString()));
    QCOMPARE(got["records"].toInt(), records);
    QStringList named;
    for (const QJsonValue row : got["unreadable"]["rows"].toArray())
        named << QString("%1: %2").arg(row["line"].toInt()).arg(row["reason"].toString());
    QCOMPARE(named, unreadable);
}

void TestReport::figures_whatever_the_order_of_records_data()
{
    QTest::addColumn<QByteArrayList>("records");  // time, operation, image, sha, result
    QTest::addColumn<QString>("key");
    QTest::addColumn<QByteArray>("expected");
    const QByteArray a(64, 'a'), b(64, 'b');
    QTest::newRow("written with A, B, A: once with each") << QByteArrayList {
        "06:00,audio,/i/a.img," + a + ",ok", "06:10,audio,/i/b.img," + b + ",ok", "06:20,audio,/i/a2.img," + a + ",ok"}
        << "images" << QByteArray(R"([{"sha256":")" + a + R"(","operation":"audio","names":["a.img","a2.img"],
        "more_names":false,"bytes":10,"modules":1,"ok":2,"failed":0,"stations":["station"]},{"sha256":")" + b
        + R"(","operation":"audio","names":["b.img"],"more_names":false,"bytes":10,"modules":1,"ok":1,"failed":0,"stations":["station"]}])");
    QTest::newRow("ok and failed in one millisecond: failed first and last") << QByteArrayList {
        "06:00,audio,/i/a.img," + a + ",ok", "06:00,audio,/i/a.img," + a + ",failed"}
        << "yield" << QByteArray(R"([{"operation":"all","modules":1,"first_pass":0,"final":0,"retests":1,"first_pass_pct":0,"final_pct":0},
        {"operation":"audio","modules":1,"first_pass":0,"final":0,"retests":1,"first_pass_pct":0,"final_pct":0}])");
    QTest::newRow("six names: the five seen earliest") << QByteArrayList {
        "06:06,audio,/i/6.img," + a + ",ok", "06:05,audio,/i/5.img," + a + ",ok", "06:04,audio,/i/4.img," + a + ",ok",
        "06:03,audio,/i/3.img," + a + ",ok", "06:02,audio,/i/2.img," + a + ",ok", "06:07,audio,/i/1.img," + a + ",ok",
        "06:01,audio,/i/1.img," + a + ",ok"}
        << "images" << QByteArray(R"([{"sha256":")" + a + R"(","operation":"audio","names":["1.img","2.img","3.img","4.img","5.img"],
        "more_names":true,"bytes":10,"modules":1,"ok":7,"failed":0,"stations":["station"]}])");
}

// One module's records read as written and in the reverse order: the same
// figures, so that the database, which keeps no order, gives the journals'.
void TestReport::figures_whatever_the_order_of_records()
{
    QFETCH(QByteArrayList, records);
    QFETCH(QString, key);
    QFETCH(QByteArray, expected);
    for (const bool reversed : {false, true}) {
        QTemporaryDir order_dir;
        QByteArray body = "\xEF\xBB\xBF" + Journal::header_row();
        for (int i = 0; i < records.size(); ++i) {
            const QByteArrayList f = records.at(reversed ? records.size() - 1 - i : i).split(',');
            body += "2026-12-06T" + f[0] + ":00.000+08:00,cli,COM5," + f[1] + ",DN,86,,," + f[2] + ",10," + f[3] + ","
                    + f[4] + "," + (f[4] == "ok" ? "" : "no reply") + ",10,,,,,,,,,\r\n";
        }
        QVERIFY(append(order_dir.filePath("kv20-journal.csv"), body));
        const QJsonObject got = figures_of(order_dir.filePath("kv20-journal.csv"), JournalScanner::default_read_bytes);
        QCOMPARE(got["records"].toInt(), records.size());
        QVERIFY2(got[key] == parse(expected), QJsonDocument(QJsonArray {got[key]}).toJson(QJsonDocument::Compact).constData());
    }
}

void TestReport::exit_status_and_message_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err");
    const QStringList all = journals;
    QTest::newRow("summary") << all << 0 << "station1 / port ttyACM1           2    0.0 %       5000   16000  LOW" << "";
    QTest::newRow("an operation named q%1uery") << QStringList {"odd%2.csv"} << 0
        << "  1 records (1 q%1uery), 1 modules, 0 records without identity, 1 unreadable rows\n" << "";
    QTest::newRow("a journal named odd%2") << QStringList {"odd%2.csv"} << 0 << "  odd%2.csv:3: too few fields\n" << "";
    QTest::newRow("an hour") << all + QStringList {"--from", "2026-12-06T07:00", "--to", "2026-12-06 08:00", "--json"}
                             << 0 << "\"records\":5," << "";
    QTest::newRow("nothing in range") << all + QStringList {"--from", "2026-12-07"} << 1 << "" << "no record falls in the range";
    QTest::newRow("only a header") << QStringList {"header-only.csv"} << 1 << "" << "no record in the journals";
    QTest::newRow("no journal") << QStringList {} << 2 << "" << "report takes at least one JOURNAL";
    QTest::newRow("no such file") << all + QStringList {"missing.csv"} << 2 << "" << "missing.csv: no such file";
    QTest::newRow("a folder") << QStringList {"a-folder"} << 2 << "" << "a-folder: a folder, not a journal";
    QTest::newRow("binary") << QStringList {"binary.bin"} << 2 << "" << "binary.bin: not a results journal";
    // Read for ever, were it read: a journal is a file.
    QTest::newRow("a device") << QStringList {"/dev/zero"} << 2 << "" << "/dev/zero: cannot be read: not a file";
    QTest::newRow("from after to") << all + QStringList {"--from", "2026-12-06T09:00", "--to", "2026-12-06T08:00"} << 2
                                   << "" << "--from 2026-12-06T09:00 is not before --to 2026-12-06T08:00";
    QTest::newRow("bad time") << all + QStringList {"--to", "yesterday"} << 2 << ""
                              << "--to takes a local date-time such as 2026-12-06T06:00, not \"yesterday\"";
}

void TestReport::exit_status_and_message()
{
    QFETCH(QStringList, args);
    QFETCH(int, status);
    QFETCH(QString, out);
    QFETCH(QString, err);
    const Run run = report(dir.path(), args);
    QCOMPARE(run.status, status);
    QVERIFY2(QString::fromUtf8(run.out).contains(out), run.out.constData());
    QVERIFY2(QString::fromUtf8(run.err).contains(err), run.err.constData());
    if (status == 2)
        QVERIFY2(run.out.isEmpty(), "a refused report prints no figures");
}

void TestReport::page_shows_journal_text_as_text_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("shown");
    QTest::addColumn<QByteArray>("never");  // empty: nothing to look for
    QTest::newRow("failure bars named by detail") << journals << QByteArray(">1. transfer error -4</text>") << QByteArray();
    QTest::newRow("a bar's name on lines") << journals << QByteArray(">2. cable &lt;loose&gt; &amp;</text>") << QByteArray();
    QTest::newRow("markup in a port") << QStringList {"hostile.csv"} << QByteArray("&quot;&gt;&lt;svg onload=x&gt;")
                                      << QByteArray("<svg onload");
    QTest::newRow("markup in an operation") << QStringList {"hostile.csv"} << QByteArray("&lt;script&gt;alert(1)&lt;/script&gt;")
                                            << QByteArray("<script");
    QTest::newRow("markup in a device number") << QStringList {"hostile.csv"} << QByteArray("&lt;img src=x onerror=alert(2)&gt;")
                                               << QByteArray("<img");
    QTest::newRow("markup in a detail") << QStringList {"hostile.csv"} << QByteArray("&lt;/text&gt;&lt;b onclick=alert(3)&gt;")
                                        << QByteArray("<b onclick");
}

void TestReport::page_shows_journal_text_as_text()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, shown);
    QFETCH(QByteArray, never);
    const QString page = dir.filePath("row.html");
    QCOMPARE(report(dir.path(), args + QStringList {"--html", page}).status, 0);
    QFile file(page);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray html = file.readAll();
    QVERIFY2(html.contains(shown), shown.constData());
    QVERIFY2(never.isEmpty() || !html.contains(never), never.constData());
}

void TestReport::page_as_chromium_shows_it()
{
    const QString page = dir.filePath("page.html");
    QCOMPARE(report(dir.path(), journals + QStringList {"--html", page}).status, 0);
    QFile file(page);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray html = file.readAll();
    QVERIFY2(!html.contains("<script") && !html.contains("<img")
                 && html.count("http") == html.count("http://www.w3.org/2000/svg"),
             "the page runs and loads nothing");
    QVERIFY(html.contains("&lt;script&gt;alert(1)&lt;/script&gt;"));

    const QString chromium = QStandardPaths::findExecutable("chromium");
    if (chromium.isEmpty() && qgetenv("CI") != "true")
        QSKIP("chromium is not installed (Debian: chromium)");
    QVERIFY2(!chromium.isEmpty(), "chromium is needed in CI");
    QFile script(KV20_SOURCE_DIR "/tests/report/measure_page.js");
    QVERIFY(script.open(QIODevice::ReadOnly));
    QByteArray measured_page = html;
    measured_page.replace("</body>", "<script id=\"harness\">" + script.readAll() + "</script></body>");
    QVERIFY(append(dir.filePath("measured.html"), measured_page));
    const QStringList common {"--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
                              "--disable-background-networking", "--disable-component-update", "--disable-sync",
                              "--disable-quic", "--hide-scrollbars", "--user-data-dir=" + dir.filePath("chromium")};
    const QString shot = QStringLiteral(KV20_BIN_DIR "/../screenshots/report-page.png");
    QDir().mkpath(QFileInfo(shot).path());
    QProcess browser;
    browser.start(chromium, common + QStringList {"--window-size=1366,3000", "--screenshot=" + shot, QUrl::fromLocalFile(page).toString()});
    QVERIFY(browser.waitForFinished(60000));
    QVERIFY2(QFileInfo(shot).size() > 0, browser.readAllStandardError().constData());
    browser.start(chromium, common + QStringList {"--window-size=1366,768", "--dump-dom", QUrl::fromLocalFile(dir.filePath("measured.html")).toString()});
    // A script from a journal's text that ran would hold Chromium in a dialog.
    QVERIFY2(browser.waitForFinished(30000), "Chromium did not finish laying out the page");
    const QByteArray dom = browser.readAllStandardOutput();
    const int start = dom.lastIndexOf("<pre id=\"measured\">") + 19;
    QVERIFY2(start >= 19, browser.readAllStandardError().right(2000).constData());
    QByteArray json = dom.mid(start, dom.indexOf("</pre>", start) - start);
    json.replace("&lt;", "<").replace("&gt;", ">").replace("&amp;", "&");
    const QJsonObject seen = QJsonDocument::fromJson(json).object();
    QVERIFY2(!seen.isEmpty(), json.constData());

    QCOMPARE(seen["charts"].toArray().size(), 2);
    for (const QJsonValue chart : seen["charts"].toArray())
        QVERIFY2(chart["width"].toDouble() > 600 && chart["height"].toDouble() > 100, "a chart is not drawn");
    // An hourly bar for each hour from 06 to 10, as tall as its modules.
    const QJsonArray hours = seen["throughput"].toArray();
    const int modules[] = {2, 3, 1, 0, 2};
    QCOMPARE(hours.size(), 5);
    for (int i = 0; i < 5; ++i)
        QVERIFY2(qAbs(hours[i].toDouble() * 3 - hours[1].toDouble() * modules[i]) < 2, qPrintable(QString::number(i)));
    const QJsonArray pareto = seen["pareto"].toArray();
    QCOMPARE(pareto.size(), 5);
    for (int i = 1; i < pareto.size(); ++i)
        QVERIFY(pareto[i].toDouble() <= pareto[i - 1].toDouble() && pareto[i].toDouble() > 0);
    QVERIFY2(seen["page_width"].toInt() <= seen["window_width"].toInt(), "the page scrolls sideways at 1366 px");
    QVERIFY2(seen["overflowing"].toArray().isEmpty(), QJsonDocument(seen["overflowing"].toArray()).toJson().constData());
    QCOMPARE(seen["elements_from_text"].toInt(), 0);
    QVERIFY(seen["title"].toString().startsWith("Shift report"));
    const QString text = seen["text"].toString();
    for (const char *shown : {hostile_number, hostile_mac, hostile_detail, "提示音-旧.img", "=D4"})
        QVERIFY2(text.contains(QString::fromUtf8(shown)), shown);
}

QTEST_GUILESS_MAIN(TestReport)
#include "tst_report.moc"
