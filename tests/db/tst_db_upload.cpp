// kv20-cli db init and upload against a real PostgreSQL server: journals of
// three stations, older journals without record ids, resends, uploads that
// die half way, databases that cannot be reached, drop packets, stop
// answering or are not set up, databases emptied, restored or made anew
// under a saved position, journals edited, and rows that are no records.
#include "journal/journal.h"
#include "journal/label_journal.h"
#include "runner/done_before.h"
#include "tests/db/test_database.h"
#include "tests/support/black_hole.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <memory>
#include <thread>

namespace {

OperationRecord record_at(int n, const QString &station)
{
    OperationRecord r;
    r.started = QDateTime(QDate(2026, 12, 6), QTime(6, 0)).addSecs(n * 7);
    r.tool = QStringLiteral("cli");
    r.port = QStringLiteral("ttyACM%1").arg(n % 4);
    r.operation = QStringLiteral("audio");
    r.device_number = QStringLiteral("DN-%1").arg(n);
    r.imei_or_mac = n % 5 == 0 ? QStringLiteral("=86%1").arg(n) : QStringLiteral("86%1").arg(n);
    r.image = QStringLiteral("/srv/音频/sound,\"v2\".img");
    r.image_bytes = 1000;
    r.image_sha256 = QByteArray(64, 'a');
    r.ok = n % 3 != 0;
    // A module's text may hold what the database's copy format escapes.
    r.detail_read_back = r.ok ? QString() : n % 2 ? QStringLiteral("no acknowledgement") : QStringLiteral("no reply\r\n\tC:\\fw");
    r.duration_ms = 40000 + n;
    // What the database's text, its arrays and its copy must carry as it is.
    if (n % 7 == 0)
        r.device_version = QStringLiteral("\uFEFF\x1b]0;t\x07 '=1 \"a,b\" C:\\fw {x} 工位");
    // The same for the same station and number, so that a label journal
    // can name a journal's passes.
    r.record_id = station.isEmpty() ? QString()
                                    : QUuid::createUuidV5(QUuid(QStringLiteral("{0c5f3d0e-53a4-4d2f-9e51-2b1c7a9e6d10}")),
                                                          station + QString::number(n))
                                          .toString(QUuid::WithoutBraces);
    r.station = station;
    // A station that knows slots names one for most records; a slot
    // outlives the port names its modules get.
    r.slot = station.isEmpty() || n % 5 == 0 ? QString() : QStringLiteral("1-1.%1").arg(n % 3 + 1);
    if (!station.isEmpty() && n % 2) {
        r.operator_id = QStringLiteral("op-%1").arg(n % 4);
        r.work_order = QStringLiteral("WO-%1").arg(n % 3);
        r.recipe_sha256 = QByteArray(64, 'b');
    }
    return r;
}

// A journal of `count` records, as this version writes it or, `older`, as
// one from before record ids and stations (without the columns added since:
// the empty record id, station and slot); written whole, not through the
// journal's append, which flushes every record to the disk.
bool write_journal(const QString &path, const QString &station, int count, int first = 0, bool older = false)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    const QByteArray header = Journal::header_row();
    QByteArray bytes = "\xEF\xBB\xBF" + (older ? header.left(header.indexOf(",record_id")) + "\r\n" : header);
    for (int n = first; n < first + count; ++n) {
        const QByteArray row = Journal::record_row(record_at(n, older ? QString() : station));
        // An older journal ends before record_id: its empty fields go.
        bytes += older ? row.left(row.size() - 2 - (journal_format::column_count - journal_format::record_id)) + "\r\n" : row;
    }
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// The label journal in `folder` for the ok records among `count` from
// `first` (as write_journal makes them), one kind of pass by n % 4: its
// label never printed (0), printed and reprinted (1), given up (2), printed
// (3), that printing kept in a side file; `torn`: the last line cut short.
// Returns how many events it holds.
int write_labels(const QString &folder, const QString &station, int count, int first = 0, bool torn = false)
{
    QByteArray journal = "\xEF\xBB\xBF" + LabelJournal::header_row(), side = journal;
    int events = 0;
    for (int n = first; n < first + count; ++n) {
        LabelEvent event;
        event.record = record_at(n, station);
        if (!event.record.ok)
            continue;
        event.time = event.record.started.addSecs(5);
        event.printer = QStringLiteral("zpl://127.0.0.1:9100");
        journal += LabelJournal::event_row(event);
        ++events;
        for (const LabelEvent::Kind kind : n % 4 == 1 ? std::vector<LabelEvent::Kind> {LabelEvent::printed, LabelEvent::reprinted}
                                           : n % 4 == 2 ? std::vector<LabelEvent::Kind> {LabelEvent::given_up}
                                           : n % 4 == 3 ? std::vector<LabelEvent::Kind> {LabelEvent::printed}
                                                        : std::vector<LabelEvent::Kind> {}) {
            event.kind = kind;
            event.time = event.time.addSecs(1);
            event.detail = kind == LabelEvent::given_up ? QStringLiteral("owed longer than 12 h") : QString();
            (n % 4 == 3 && kind == LabelEvent::printed ? side : journal) += LabelJournal::event_row(event);
            ++events;
        }
    }
    if (torn)
        journal += "2026-12-14T09:00:00.000+08:00,3f2a1c4e";
    QFile file(QDir(folder).filePath("kv20-labels.csv")), side_file(QDir(folder).filePath("kv20-labels-unsaved-20261214-083000.csv"));
    return file.open(QIODevice::WriteOnly) && file.write(journal) == journal.size() && side_file.open(QIODevice::WriteOnly)
                   && side_file.write(side) == side.size()
               ? events
               : -1;
}

// The journal's lines changed as in an editor, the file written anew.
bool edit_lines(const QString &path, const std::function<void(QList<QByteArray> *)> &edit)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QList<QByteArray> lines = file.readAll().split('\n');
    file.close();
    edit(&lines);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(lines.join('\n')) > 0;
}

// The records table as version 1 of the schema made it, with one record.
const QStringList version_1 {
    "CREATE TABLE kv20_schema (version integer NOT NULL)",
    "INSERT INTO kv20_schema VALUES (1)",
    "CREATE TABLE kv20_records (record_id uuid PRIMARY KEY, station text NOT NULL, time text NOT NULL,"
    " wall_time timestamp NOT NULL, utc_time timestamptz NOT NULL, tool text NOT NULL, port text NOT NULL,"
    " operation text NOT NULL, device_number text NOT NULL, imei_or_mac text NOT NULL,"
    " iccid_or_audio_version text NOT NULL, device_version text NOT NULL, image text NOT NULL, image_bytes bigint,"
    " image_sha256 text NOT NULL, result text NOT NULL CHECK (result IN ('ok', 'failed')), detail text NOT NULL,"
    " duration_ms bigint NOT NULL, uploaded_at timestamptz NOT NULL DEFAULT now())",
    "CREATE INDEX kv20_records_wall_time ON kv20_records (wall_time)",
    "CREATE INDEX kv20_records_utc_time ON kv20_records (utc_time)",
    "CREATE INDEX kv20_records_station ON kv20_records (station, wall_time)",
    "CREATE INDEX kv20_records_slot ON kv20_records (station, port)",
    "INSERT INTO kv20_records VALUES ('6f1c2a47-3b52-4e0a-9d61-0f2a8c7be913', 's0', '2026-12-05T18:00:00.000+08:00',"
    " '2026-12-05 18:00', '2026-12-05T18:00:00.000+08:00', 'cli', 'ttyACM0', 'query', 'DN', '86', '', '', '', NULL,"
    " '', 'ok', '', 100)",
};

// The tables' columns and indexes, to see that a second init changes nothing.
const char layout_sql[] =
    "SELECT hashtext(string_agg(x, ',' ORDER BY x)) FROM (SELECT table_name || column_name || data_type || is_nullable"
    " || coalesce(column_default, '') AS x FROM information_schema.columns WHERE table_name LIKE 'kv20%'"
    " UNION ALL SELECT indexdef FROM pg_indexes WHERE tablename LIKE 'kv20%') AS layout";

QByteArray summary(qint64 sent, qint64 already, qint64 unreadable)
{
    return QStringLiteral("%1 sent, %2 already there, %3 unreadable").arg(sent).arg(already).arg(unreadable).toUtf8();
}

} // namespace

class TestDbUpload : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void every_record_arrives_once_data();
    void every_record_arrives_once();
    void an_upload_killed_half_way_loses_and_doubles_nothing_data();
    void an_upload_killed_half_way_loses_and_doubles_nothing();
    void a_database_that_cannot_take_records_is_named_data();
    void a_database_that_cannot_take_records_is_named();
    void a_position_that_does_not_hold_is_dropped_data();
    void a_position_that_does_not_hold_is_dropped();
    void unreadable_rows_cost_only_themselves_data();
    void unreadable_rows_cost_only_themselves();
    void a_vanished_peer_is_noticed_data();
    void a_vanished_peer_is_noticed();
    void db_init_brings_an_older_schema_up_to_date_data();
    void db_init_brings_an_older_schema_up_to_date();
    void the_database_report_is_the_journals_report_data();
    void the_database_report_is_the_journals_report();
    void a_hub_arriving_at_once_shares_few_connections();
    void cleanupTestCase() { report_line.reset(); }

private:
    // Three stations' folders and the database they were uploaded to, made
    // once for the report's rows, which only read them.
    struct ReportLine
    {
        QTemporaryDir dir;
        TestDatabase db;
        QStringList journals;
    };
    std::unique_ptr<ReportLine> report_line;
    bool make_report_line();
};

void TestDbUpload::init()
{
    if (TestDatabase::server_url().isEmpty())
        QSKIP("no test server (KV20_TEST_DB_URL; scripts/test-db.sh starts one)");
}

void TestDbUpload::every_record_arrives_once_data()
{
    QTest::addColumn<QStringList>("layout");  // path:records, "older:" for a journal without ids
    QTest::addColumn<int>("records");
    QTest::newRow("three stations") << QStringList {"line2/s1/kv20-journal.csv:40", "line2/s2/kv20-journal.csv:7000",
                                                    "line2/s3/kv20-journal-unsaved-20261206-060000.csv:3"}
                                    << 7043;
    QTest::newRow("an older journal, ids from its bytes")
        << QStringList {"older:s1/kv20-journal-older-20261205-180000.csv:25", "s1/kv20-journal.csv:5"} << 30;
}

// Uploaded, then again, then again with every position gone: the rows are
// the records, each once, and the station named as the journal names it.
void TestDbUpload::every_record_arrives_once()
{
    QFETCH(QStringList, layout);
    QFETCH(int, records);
    QTemporaryDir dir;
    TestDatabase db;
    QString error;
    QVERIFY2(db.create(&error), qPrintable(error));
    QCOMPARE(CliRun({"db", "init", "--db", db.url()}, dir.path()).exit_code, 0);
    QStringList journals;
    for (const QString &entry : layout) {
        const QStringList parts = entry.split(QLatin1Char(':'));
        const bool older = parts.size() == 3;
        const QString path = dir.filePath(parts.at(older ? 1 : 0));
        const int count = parts.last().toInt();
        QVERIFY(write_journal(path, QFileInfo(path).dir().dirName() + QStringLiteral(" 工位"), count, older ? 0 : 100000,
                              older));
        journals << path;
    }
    const CliRun first(QStringList {"upload", "--db", db.url()} + journals, dir.path());
    QVERIFY2(first.out.contains(summary(records, 0, 0)), first.out + first.err);
    QCOMPARE(first.exit_code, 0);
    QCOMPARE(db.number("SELECT count(*) FROM kv20_records"), qint64(records));
    QCOMPARE(db.number("SELECT count(DISTINCT record_id) FROM kv20_records"), qint64(records));

    const CliRun again(QStringList {"upload", "--db", db.url()} + journals, dir.path());
    QVERIFY2(again.out.contains(summary(0, 0, 0)), again.out + again.err);
    for (const QString &path : journals)
        QVERIFY(QFile::remove(path + ".uploaded"));
    const CliRun resent(QStringList {"upload", "--db", db.url()} + journals, dir.path());
    QVERIFY2(resent.out.contains(summary(0, records, 0)), resent.out + resent.err);
    QCOMPARE(resent.exit_code, 0);
    QCOMPARE(db.number("SELECT count(*) FROM kv20_records"), qint64(records));
    // Records without a station are the journal's folder's.
    QCOMPARE(db.number("SELECT count(*) FROM kv20_records WHERE station NOT LIKE 's_ 工位' AND station NOT LIKE 's_'"), 0);
    // A value the journal guards against spreadsheets is stored as the module sent it.
    QCOMPARE(db.number("SELECT count(*) FROM kv20_records WHERE imei_or_mac LIKE '''%'"), 0);
    QVERIFY(db.number("SELECT count(*) FROM kv20_records WHERE imei_or_mac LIKE '=86%'") > 0);
    QCOMPARE(db.value("SELECT device_version FROM kv20_records WHERE device_number IN ('DN-7', 'DN-100002') LIMIT 1"),
             record_at(7, QString()).device_version.toUtf8());
}

void TestDbUpload::an_upload_killed_half_way_loses_and_doubles_nothing_data()
{
    QTest::addColumn<QString>("crash_at");
    QTest::addColumn<qint64>("rows_after_crash");  // of 12000, batches of 5000
    QTest::newRow("between insert and commit") << "before-commit" << qint64(0);
    QTest::newRow("between commit and position") << "before-position" << qint64(5000);
}

void TestDbUpload::an_upload_killed_half_way_loses_and_doubles_nothing()
{
    QFETCH(QString, crash_at);
    QFETCH(qint64, rows_after_crash);
    QTemporaryDir dir;
    TestDatabase db;
    QString error;
    QVERIFY2(db.create(&error), qPrintable(error));
    QCOMPARE(CliRun({"db", "init", "--db", db.url()}, dir.path()).exit_code, 0);
    QVERIFY(write_journal(dir.filePath("kv20-journal.csv"), "s1", 12000));

    const CliRun crashed({crash_at, "upload", "--db", db.url()}, dir.path(), {}, "kv20-test-upload-crash");
    QCOMPARE(crashed.exit_code, 99);
    QCOMPARE(db.number("SELECT count(*) FROM kv20_records"), rows_after_crash);
    QVERIFY(!QFile::exists(dir.filePath("kv20-journal.csv.uploaded")));

    const CliRun rerun({"upload", "--db", db.url()}, dir.path());
    QVERIFY2(rerun.out.contains(summary(12000 - rows_after_crash, rows_after_crash, 0)), rerun.out + rerun.err);
    QCOMPARE(rerun.exit_code, 0);
    QCOMPARE(db.number("SELECT count(*) FROM kv20_records"), qint64(12000));
}

void TestDbUpload::db_init_brings_an_older_schema_up_to_date_data()
{
    QTest::addColumn<QStringList>("before");  // statements run before db init
    QTest::addColumn<int>("records_before");
    QTest::newRow("an empty database") << QStringList {} << 0;
    QTest::newRow("version 1 with a record") << version_1 << 1;
    QStringList version_2 = version_1;
    version_2.replaceInStrings("VALUES (1)", "VALUES (2)");
    version_2.insert(3, "ALTER TABLE kv20_records ADD COLUMN slot text NOT NULL DEFAULT ''");
    version_2 << "CREATE INDEX kv20_records_station_slot ON kv20_records (station, slot)";
    QTest::newRow("version 2 with a record") << version_2 << 1;
}

// Init, then init again: the slot column is there, nothing else changed the
// second time, records from before stay without a slot, and an upload
// stores the slots the journal names.
void TestDbUpload::db_init_brings_an_older_schema_up_to_date()
{
    QFETCH(QStringList, before);
    QFETCH(int, records_before);
    QTemporaryDir dir;
    TestDatabase db;
    QString error;
    QVERIFY2(db.create(&error), qPrintable(error));
    PgLink link;
    QVERIFY2(link.connect(db.url(), &error), qPrintable(error));
    for (const QString &sql : before)
        QVERIFY2(link.exec(sql.toUtf8().constData()).ok, qPrintable(sql));
    const CliRun init({"db", "init", "--db", db.url()}, dir.path());
    QVERIFY2(init.exit_code == 0, init.err);
    const qint64 layout = db.number(layout_sql);
    QCOMPARE(CliRun({"db", "init", "--db", db.url()}, dir.path()).exit_code, 0);
    QCOMPARE(db.number(layout_sql), layout);
    QCOMPARE(db.number("SELECT max(version) FROM kv20_schema"), qint64(4));
    QCOMPARE(db.number("SELECT count(*) FROM kv20_schema"), qint64(1));
    QCOMPARE(db.number("SELECT count(*) FROM kv20_records WHERE slot = ''"), qint64(records_before));
    QCOMPARE(db.number("SELECT count(*) FROM kv20_records WHERE operator = '' AND again_of IS NULL"), qint64(records_before));
    QCOMPARE(db.number("SELECT count(*) FROM pg_indexes WHERE indexname = 'kv20_records_identity'"), qint64(1));
    QCOMPARE(db.number("SELECT count(*) FROM pg_indexes WHERE indexdef LIKE '%(station, slot)'"), qint64(1));

    QVERIFY(write_journal(dir.filePath("s1/kv20-journal.csv"), "s1", 30));
    QCOMPARE(CliRun({"upload", "--db", db.url(), dir.filePath("s1/kv20-journal.csv")}, dir.path()).exit_code, 0);
    // Records 0, 5, 10 ... name no slot; the others 1-1.1 to 1-1.3 by n % 3.
    QCOMPARE(db.number("SELECT count(*) FROM kv20_records WHERE slot = ''"), qint64(records_before + 6));
    QCOMPARE(db.number("SELECT count(*) FROM kv20_records WHERE device_number LIKE 'DN-%' AND slot = '1-1.' || (split_part(device_number, '-', 2)::int % 3 + 1)"),
             qint64(24));
    QCOMPARE(db.number("SELECT count(*) FROM kv20_records WHERE operator = 'op-3' AND work_order = 'WO-0'"), qint64(3));

    // A refusal, which an older table's result check did not allow, naming
    // the record it was done in.
    OperationRecord refused = record_at(31, "s1");
    refused.ok = false;
    refused.failure = Failure::done_before;
    refused.earlier = {QUuid::createUuid().toString(QUuid::WithoutBraces), "s0", "1-1.2", "2026-12-05T18:00:00.000+08:00"};
    refused.again_checked = "journals and database";
    QFile refusals(dir.filePath("s1/kv20-journal.csv"));
    QVERIFY(refusals.open(QIODevice::Append) && refusals.write(Journal::record_row(refused)) > 0);
    refusals.close();
    QCOMPARE(CliRun({"upload", "--db", db.url(), dir.filePath("s1/kv20-journal.csv")}, dir.path()).exit_code, 0);
    QCOMPARE(QString::fromUtf8(db.value("SELECT result || ' ' || detail || ' ' || again_of FROM kv20_records WHERE device_number = 'DN-31'")),
             "refused done before at s0 1-1.2 2026-12-05T18:00:00.000+08:00 " + refused.earlier.record_id);
}

void TestDbUpload::a_database_that_cannot_take_records_is_named_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QStringList>("command");  // %U: the URL
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("exit_code");
    const QStringList upload {"upload", "--db", "%U"};
    QTest::newRow("wrong password") << "password" << upload << "password authentication failed" << 1;
    QTest::newRow("unknown host") << "host" << upload << "could not translate host name \"kv20-nowhere.invalid\"" << 1;
    QTest::newRow("no schema") << "schema" << upload << "no kv20 tables (kv20-cli db init --db URL creates them)" << 1;
    QTest::newRow("no --db") << "usage" << QStringList {"upload"} << "upload takes --db URL" << 2;
    // A firewall, a pulled cable: no answer at all, within connect_timeout.
    const QString dropped = "database host=127.0.0.1 port=%P dbname=%D user=kv20_admin: no answer from the server within 2 s";
    QTest::newRow("a host that drops packets: upload") << "drops" << upload << dropped << 1;
    QTest::newRow("a host that drops packets: db init") << "drops" << QStringList {"db", "init", "--db", "%U"} << dropped << 1;
    QTest::newRow("a host that drops packets: report") << "drops" << QStringList {"report", "--db", "%U"} << dropped << 1;
    // A migration holding the table: the statement's bound, then the next run.
    QTest::newRow("a table locked past the statement's bound")
        << "locked" << upload << "no answer from the server within 1500 ms (a statement)" << 1;
    // Refused without a word of the URL: libpq's own message would repeat it.
    QTest::newRow("a password libpq cannot read") << "50%off" << upload << "a connection URL libpq cannot read" << 1;
    QTest::newRow("a password with an unencoded @") << "p@ss" << upload << "write @ as %40" << 1;
}

// The message names the database and what is wrong, never the password, in
// a few seconds whatever the network does; every record stays for the next
// upload.
void TestDbUpload::a_database_that_cannot_take_records_is_named()
{
    QFETCH(QString, fault);
    QFETCH(QStringList, command);
    QFETCH(QString, message);
    QFETCH(int, exit_code);
    QTemporaryDir dir;
    TestDatabase db;
    QString error;
    QVERIFY2(db.create(&error), qPrintable(error));
    if (fault != QLatin1String("schema"))
        QCOMPARE(CliRun({"db", "init", "--db", db.url()}, dir.path()).exit_code, 0);
    QVERIFY(write_journal(dir.filePath("kv20-journal.csv"), "s1", 10));
    const QString secret = QStringLiteral("Secret-%1").arg(QUuid::createUuid().toString(QUuid::Id128));
    QString url = db.url();
    QStringList environment;
    BlackHole black_hole;
    PgLink holder;
    if (fault == QLatin1String("password"))
        environment << QStringLiteral("PGPASSWORD=") + secret;
    if (fault == QLatin1String("host"))
        url.replace(QRegularExpression("@[^/]+/"), QStringLiteral("@kv20-nowhere.invalid/"));
    if (fault == QLatin1String("drops")) {
        QVERIFY(black_hole.port() != 0);
        url = QStringLiteral("postgresql://kv20_admin@127.0.0.1:%1/%2?connect_timeout=2").arg(black_hole.port()).arg(db.name());
        message.replace("%P", QString::number(black_hole.port())).replace("%D", db.name());
    }
    if (fault == QLatin1String("locked")) {
        environment << QStringLiteral("KV20_DB_STATEMENT_WAIT_MS=1500");
        QVERIFY2(holder.connect(db.url(), &error), qPrintable(error));
        QVERIFY(holder.exec("BEGIN").ok && holder.exec("LOCK TABLE kv20_records IN ACCESS EXCLUSIVE MODE").ok);
    }
    if (fault.contains(QLatin1String("%")) || fault.contains(QLatin1String("@")))
        url.replace("kv20_admin@", QStringLiteral("kv20_admin:%1-%2@").arg(fault, secret));
    const CliRun run(command.replaceInStrings("%U", url) << "--trace" << "all", dir.path(), environment);
    holder.disconnect();
    QVERIFY2(run.err.contains(message.toUtf8()), run.err);
    QVERIFY2(!(run.out + run.err).contains(secret.toUtf8()), run.out + run.err);
    QVERIFY(!(run.out + run.err).contains(qgetenv("PGPASSWORD")));
    QCOMPARE(run.exit_code, exit_code);
    QVERIFY(!QFile::exists(dir.filePath("kv20-journal.csv.uploaded")));
    if (fault != QLatin1String("schema"))
        QCOMPARE(db.number("SELECT count(*) FROM kv20_records"), 0);

    // Put right, the same journal goes whole.
    QCOMPARE(CliRun({"db", "init", "--db", db.url()}, dir.path()).exit_code, 0);
    const CliRun fixed({"upload", "--db", db.url()}, dir.path());
    QVERIFY2(fixed.out.contains(summary(10, 0, 0)), fixed.out + fixed.err);
    // The fault costs its own bound and no more: beyond it, what the same
    // upload costs on this machine with nothing wrong (a sanitizer's build on
    // a busy machine starts and handshakes for seconds). Unbounded, a dropped
    // connect would wait 10 s and a locked table 60 s.
    const qint64 fault_bound_ms = fault == QLatin1String("drops") ? 2000 : fault == QLatin1String("locked") ? 1500 : 0;
    QVERIFY2(run.elapsed_ms < fault_bound_ms + 2 * fixed.elapsed_ms + 1000,
             qPrintable(QStringLiteral("%1 ms, %2 ms without the fault").arg(run.elapsed_ms).arg(fixed.elapsed_ms)));
}

void TestDbUpload::a_position_that_does_not_hold_is_dropped_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<int>("records");  // in the database at the end
    QTest::newRow("the database emptied") << "emptied" << 30;
    QTest::newRow("the database restored from a backup older than the last upload") << "restored" << 30;
    QTest::newRow("the database made anew under the same name") << "anew" << 30;
    QTest::newRow("another database through a libpq service") << "service" << 30;
    QTest::newRow("a line deleted in an editor, then records appended") << "edited" << 34;
}

// Uploaded once; then the database or the journal changes under the saved
// position: the next upload finds out and sends every record the database
// lacks, each once.
void TestDbUpload::a_position_that_does_not_hold_is_dropped()
{
    QFETCH(QString, change);
    QFETCH(int, records);
    QTemporaryDir dir;
    TestDatabase db, other;
    QString error;
    QVERIFY2(db.create(&error) && other.create(&error), qPrintable(error));
    // Two services on one server, as a libpq service file names them.
    const QUrl server(db.url());
    QFile services(dir.filePath("pg_service.conf"));
    QVERIFY(services.open(QIODevice::WriteOnly));
    for (const TestDatabase *d : {&db, &other})
        services.write(QStringLiteral("[%1]\nhost=127.0.0.1\nport=%2\ndbname=%1\nuser=kv20_admin\n").arg(d->name()).arg(server.port()).toUtf8());
    services.close();
    const QStringList environment {QStringLiteral("PGSERVICEFILE=") + services.fileName()};
    const QString first = change == QLatin1String("service") ? "service=" + db.name() : db.url();
    const QString second = change == QLatin1String("service") ? "service=" + other.name() : db.url();
    for (const QString &url : {first, second})
        QCOMPARE(CliRun({"db", "init", "--db", url}, dir.path(), environment).exit_code, 0);
    const QString journal = dir.filePath("kv20-journal.csv");
    QVERIFY(write_journal(journal, "s1", 30));
    const int label_events = write_labels(dir.path(), "s1", 30);
    const CliRun upload({"upload", "--db", first}, dir.path(), environment);
    QVERIFY2(upload.out.contains(summary(30, 0, 0)) && upload.out.contains("label events: " + summary(label_events, 0, 0)),
             upload.out + upload.err);

    if (change == QLatin1String("emptied")) {
        QCOMPARE(db.number("WITH d AS (DELETE FROM kv20_records RETURNING 1) SELECT count(*) FROM d"), 30);
        QCOMPARE(db.number("WITH d AS (DELETE FROM kv20_label_events RETURNING 1) SELECT count(*) FROM d"), label_events);
    }
    if (change == QLatin1String("restored")) {
        QCOMPARE(db.number("WITH d AS (DELETE FROM kv20_records WHERE duration_ms >= 40020 RETURNING 1) SELECT count(*) FROM d"), 10);
        QVERIFY(db.number("WITH d AS (DELETE FROM kv20_label_events WHERE device_number >= 'DN-20' RETURNING 1) SELECT count(*) FROM d") > 0);
    }
    if (change == QLatin1String("anew")) {
        QVERIFY2(db.recreate(&error), qPrintable(error));
        QCOMPARE(CliRun({"db", "init", "--db", db.url()}, dir.path()).exit_code, 0);
    }
    if (change == QLatin1String("edited")) {
        QVERIFY(edit_lines(journal, [](QList<QByteArray> *lines) { lines->removeAt(25); }));  // past the first 4 KiB
        for (int n = 30; n < 34; ++n)
            QVERIFY(Journal(journal).append(record_at(n, "s1")).in_journal);
        // The label journal's first event gone, two appended.
        QVERIFY(edit_lines(dir.filePath("kv20-labels.csv"), [](QList<QByteArray> *lines) { lines->removeAt(1); }));
        LabelEvent later;
        for (int n : {31, 32}) {
            later.record = record_at(n, "s1");
            later.time = later.record.started;
            QVERIFY(LabelJournal(dir.path()).append(later).isEmpty());
        }
    }
    const CliRun again({"upload", "--db", second}, dir.path(), environment);
    QCOMPARE(again.exit_code, 0);
    const TestDatabase &target = change == QLatin1String("service") ? other : db;
    QCOMPARE(target.number("SELECT count(*) FROM kv20_records"), qint64(records));
    QCOMPARE(target.number("SELECT count(DISTINCT record_id) FROM kv20_records"), qint64(records));
    QCOMPARE(target.number("SELECT count(*) FROM kv20_label_events"), label_events + (change == QLatin1String("edited") ? 2 : 0));
}

void TestDbUpload::unreadable_rows_cost_only_themselves_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<QString>("reason");
    QTest::newRow("a record id followed by text") << "id" << "record_id not a UUID";
    QTest::newRow("a stray quote") << "quote" << "quotes out of place";
    QTest::newRow("a line cut short by hand") << "cut" << "too few fields";
}

// One damaged line among twelve: the others arrive, the row is named by file
// and line and counted (exit 1) by this upload and every later one, until it
// is set aside; then the upload ends with 0 and nothing was sent twice.
void TestDbUpload::unreadable_rows_cost_only_themselves()
{
    QFETCH(QString, damage);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    TestDatabase db;
    QString error;
    QVERIFY2(db.create(&error), qPrintable(error));
    QCOMPARE(CliRun({"db", "init", "--db", db.url()}, dir.path()).exit_code, 0);
    // A folder whose name would retitle a terminal: named, never obeyed.
    const QString journal = dir.filePath("s\x1b]0;t\x07/kv20-journal.csv");
    QVERIFY(write_journal(journal, "s1", 12));
    QVERIFY(edit_lines(journal, [&](QList<QByteArray> *lines) {
        QByteArray &line = (*lines)[4];  // line 5 of the file, the fourth record
        if (damage == QLatin1String("id"))
            line.insert(line.lastIndexOf(",s1,"), " or so");
        if (damage == QLatin1String("quote"))
            line.replace("DN-3", "DN\"-3");
        if (damage == QLatin1String("cut"))
            line = line.left(line.size() / 2) + '\r';
    }));
    const QByteArray named = QStringLiteral("unreadable row: %1: line 5: %2")
                                 .arg(QString(journal).replace("\x1b", "\\x1b").replace("\x07", "\\x07"), reason)
                                 .toUtf8();

    for (const QByteArray &said : {summary(11, 0, 1), summary(0, 0, 1)}) {
        const CliRun run({"upload", "--db", db.url(), journal}, dir.path());
        QVERIFY2(run.out.contains(said) && run.err.contains(named), run.out + run.err);
        QVERIFY(!(run.out + run.err).contains('\x1b'));
        QCOMPARE(run.exit_code, 1);
        QCOMPARE(db.number("SELECT count(*) FROM kv20_records"), 11);
    }
    // Set aside as the README says: the line moved out of the journal.
    QVERIFY(edit_lines(journal, [](QList<QByteArray> *lines) { lines->removeAt(4); }));
    const CliRun mended({"upload", "--db", db.url(), journal}, dir.path());
    QVERIFY2(mended.out.contains(summary(0, 11, 0)), mended.out + mended.err);
    QCOMPARE(mended.exit_code, 0);
    QCOMPARE(db.number("SELECT count(*) FROM kv20_records"), 11);
}

void TestDbUpload::a_vanished_peer_is_noticed_data()
{
    QTest::addColumn<QString>("options");  // added to the URL
    QTest::addColumn<QList<int>>("expected");  // keepalive, idle, interval, count, user timeout
    QTest::newRow("by default") << "" << QList<int> {1, 10, 5, 3, 30000};
    QTest::newRow("as the URL says") << "?keepalives_idle=7&keepalives_count=2&tcp_user_timeout=4000"
                                     << QList<int> {1, 7, 5, 2, 4000};
}

// A peer that goes silent mid-statement (a cable pulled on its side) is
// noticed by the connection's TCP keepalives and user timeout.
void TestDbUpload::a_vanished_peer_is_noticed()
{
    QFETCH(QString, options);
    QFETCH(QList<int>, expected);
    TestDatabase db;
    QString error;
    QVERIFY2(db.create(&error), qPrintable(error));
    PgLink link;
    QVERIFY2(link.connect(db.url() + options, &error), qPrintable(error));
    QList<int> set;
    const std::pair<int, int> options_read[] = {{SOL_SOCKET, SO_KEEPALIVE}, {IPPROTO_TCP, TCP_KEEPIDLE},
                                                {IPPROTO_TCP, TCP_KEEPINTVL}, {IPPROTO_TCP, TCP_KEEPCNT},
                                                {IPPROTO_TCP, TCP_USER_TIMEOUT}};
    for (const auto &o : options_read) {
        int value = -1;
        socklen_t size = sizeof value;
        QCOMPARE(getsockopt(link.socket(), o.first, o.second, &value, &size), 0);
        set << value;
    }
    QCOMPARE(set, expected);
}

void TestDbUpload::the_database_report_is_the_journals_report_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("records");  // that the report counts
    QTest::addColumn<QString>("first_station");
    QTest::newRow("every record") << QStringList {} << 7046 << "s1 工位";
    // Records 7 s apart from 2026-12-06T06:00 on, numbered from 100000: the
    // range starts inside the first station's journal, ends in the second's.
    QTest::newRow("a range") << QStringList {"--from", "2026-12-14T08:28", "--to", "2026-12-14T12:00"} << 1817
                             << "s1 工位";
    QTest::newRow("two stations") << QStringList {"--station", "s1 工位", "--station", "s3"} << 43 << "s1 工位";
    QTest::newRow("the station of an older journal") << QStringList {"--station", "s3"} << 3 << "s3";
    QTest::newRow("no such station") << QStringList {"--station", "s9"} << 0 << "";
    // Odd records name op-(n % 4) and WO-(n % 3).
    QTest::newRow("an operator") << QStringList {"--operator", "op-1"} << 1763 << "s1 工位";
    QTest::newRow("a work order") << QStringList {"--work-order", "WO-2"} << 1174 << "s1 工位";
}

// Three stations' journals, one from before stations had a column, with
// label journals beside two of them: uploaded to one database.
bool TestDbUpload::make_report_line()
{
    auto made = std::make_unique<ReportLine>();
    QTemporaryDir &dir = made->dir;
    QString error;
    if (!made->db.create(&error) || CliRun({"db", "init", "--db", made->db.url()}, dir.path()).exit_code != 0)
        return false;
    // In the order the database gives them: by station, then time.
    const QStringList journals {dir.filePath("s1/kv20-journal.csv"), dir.filePath("s2/kv20-journal.csv"),
                                dir.filePath("s3/kv20-journal-older-20261205-180000.csv")};
    if (!write_journal(journals[0], "s1 工位", 40, 100000) || !write_journal(journals[1], "s2 工位", 7000, 100040))
        return false;
    // Times in the other forms the report reads, written by other tools.
    QFile other_tools(journals[1]);
    if (!other_tools.open(QIODevice::Append))
        return false;
    for (const char *time : {"2026-12-06T06:00:01+08:00", "2026-12-05T22:00:02Z"}) {
        OperationRecord r = record_at(1, "s2 工位");
        r.record_id = QUuid::createUuid().toString(QUuid::WithoutBraces);
        other_tools.write(Journal::record_row(r).replace(0, 29, time));
    }
    // A module refused as done before, and one served again: op-1's, the
    // refused one for WO-2.
    OperationRecord refused = record_at(5, "s2 工位"), again = record_at(9, "s2 工位");
    refused.ok = false;
    refused.failure = Failure::done_before;
    again.ok = true;
    for (OperationRecord *r : {&refused, &again}) {
        r->earlier = {QUuid::createUuid().toString(QUuid::WithoutBraces), "s1 工位", "1-1.1", "2026-12-05T18:00:00.000+08:00"};
        r->operator_id = "op-1";
        other_tools.write(Journal::record_row(*r));
    }
    other_tools.close();
    if (!write_journal(journals[2], QString(), 3, 0, true))
        return false;
    // Labels of s1's passes and of s2's first 200 records, s1's last line torn.
    if (write_labels(dir.filePath("s1"), "s1 工位", 40, 100000, true) <= 0
        || write_labels(dir.filePath("s2"), "s2 工位", 200, 100040) <= 0)
        return false;
    const QStringList label_files {dir.filePath("s1/kv20-labels.csv"), dir.filePath("s1/kv20-labels-unsaved-20261214-083000.csv"),
                                   dir.filePath("s2/kv20-labels.csv"), dir.filePath("s2/kv20-labels-unsaved-20261214-083000.csv")};
    if (CliRun(QStringList {"upload", "--db", made->db.url()} + journals + label_files, dir.path()).exit_code != 0)
        return false;
    made->journals = journals;
    report_line = std::move(made);
    return true;
}

// The report from the database has the journals' figures, apart from where
// they came from.
void TestDbUpload::the_database_report_is_the_journals_report()
{
    QFETCH(QStringList, options);
    QFETCH(int, records);
    QFETCH(QString, first_station);
    if (!report_line)
        QVERIFY(make_report_line());
    const QStringList &journals = report_line->journals;
    const QTemporaryDir &dir = report_line->dir;
    const TestDatabase &db = report_line->db;
    const CliRun from_files(QStringList {"report", "--json"} + options + journals, dir.path());
    const CliRun from_db(QStringList {"report", "--json", "--db", db.url()} + options, dir.path());
    QCOMPARE(from_db.exit_code, records > 0 ? 0 : 1);
    QCOMPARE(from_files.exit_code, from_db.exit_code);
    QJsonObject files = QJsonDocument::fromJson(from_files.out).object();
    QJsonObject database = QJsonDocument::fromJson(from_db.out).object();
    QCOMPARE(files.value("records").toInt(), records);
    // The refusal counted apart, in no yield; the module served again among the records.
    const bool with_both = options.isEmpty() || options.contains("op-1");
    QCOMPARE(files.value("refused_records").toInt(), with_both ? 1 : options.contains("WO-2") ? 1 : 0);
    QCOMPARE(files.value("again_records").toInt(), with_both ? 1 : 0);
    // Of 27 + 133 passes with labels, those never printed or given up (n % 4 of 0 or 2).
    const QJsonObject labels = files.value("labels").toObject();
    if (options.isEmpty()) {
        QCOMPARE(labels.value("passes").toInt(), 160);
        QCOMPARE(labels.value("never_printed").toInt(), 80);
        const QJsonObject first = labels.value("unprinted").toArray().at(0).toObject();
        QCOMPARE(first.value("device_number").toString(), QString("DN-100000"));
        QCOMPARE(first.value("label").toString(), QString("waiting"));
        // The third, 100006, was given up.
        const QJsonObject given_up = labels.value("unprinted").toArray().at(2).toObject();
        QCOMPARE(given_up.value("device_number").toString() + ' ' + given_up.value("label").toString() + ": "
                     + given_up.value("detail").toString(),
                 QString("DN-100006 given up: owed longer than 12 h"));
    }
    if (options == QStringList {"--station", "s3"})
        QCOMPARE(labels.value("passes").toInt(), 0);
    const QJsonArray sources = database.take("files").toArray();
    QCOMPARE(sources.size(), 1);
    QCOMPARE(sources[0].toObject().value("records").toInt(), records);
    QVERIFY(!sources[0].toObject().value("path").toString().contains(qEnvironmentVariable("PGPASSWORD")));
    files.remove("files");
    if (files != database) {
        qWarning("from the journals: %s\nfrom the database: %s", QJsonDocument(files).toJson().constData(),
                 QJsonDocument(database).toJson().constData());
        QFAIL("the reports differ");
    }
    // Stations as the records name them, not by their folders s1 and s2.
    QCOMPARE(database.value("stations").toArray().at(0).toObject().value("station").toString(), first_station);
}

QTEST_GUILESS_MAIN(TestDbUpload)
#include "tst_db_upload.moc"

// Thirty-two modules asking at the same moment whether they were served
// before: each gets the database's answer, through a handful of connections
// rather than one each (a line of stations would pass max_connections).
void TestDbUpload::a_hub_arriving_at_once_shares_few_connections()
{
    QTemporaryDir dir;
    TestDatabase db;
    QString error;
    QVERIFY2(db.create(&error), qPrintable(error));
    const CliRun init({"db", "init", "--db", db.url()}, dir.path());
    QVERIFY2(init.exit_code == 0, init.err);
    PgLink link;
    QVERIFY2(link.connect(db.url(), &error), qPrintable(error));
    QVERIFY(link.exec("INSERT INTO kv20_records (time, tool, port, operation, device_number, imei_or_mac,"
                      " iccid_or_audio_version, device_version, image, image_sha256, result, detail, duration_ms,"
                      " record_id, station, slot, wall_time, utc_time) VALUES ('2026-12-07T08:00:00.000', 'station',"
                      " 'ttyACM0', 'audio', 'DN-EVEN', '861230', '', '', 'a.img', 'aa', 'ok', '', 1, gen_random_uuid(),"
                      " 'station-a', '1-1.2', now(), now())")
                .ok);
    link.disconnect();
    // A first connection's handshake on a loaded machine (a sanitizer's
    // build, other tests running) can outlast the station's 300 ms; what is
    // checked here is the sharing, so the bound is a generous one.
    qputenv("KV20_DB_LOOKUP_WAIT_MS", "10000");
    DoneBefore done_before(QStringLiteral("station-b"), db.url());
    qunsetenv("KV20_DB_LOOKUP_WAIT_MS");
    // One module first, as a station's first: its answer is the database's.
    OperationRecord first;
    first.operation = QStringLiteral("audio");
    first.device_number = QStringLiteral("DN-EVEN");
    first.imei_or_mac = QStringLiteral("861230");
    done_before.look_up(&first, "aa");
    QCOMPARE(first.again_checked, journal_text(journal_format::again_checked_words::database));
    QCOMPARE(first.earlier.station, QStringLiteral("station-a"));
    constexpr int modules = 32;
    std::vector<OperationRecord> records(modules);
    std::vector<std::thread> threads;
    std::atomic<int> waiting {modules};
    for (int i = 0; i < modules; ++i) {
        records[size_t(i)].operation = QStringLiteral("audio");
        records[size_t(i)].device_number = i % 2 ? QStringLiteral("DN-%1").arg(i) : QStringLiteral("DN-EVEN");
        records[size_t(i)].imei_or_mac = i % 2 ? QStringLiteral("86123%1").arg(i) : QStringLiteral("861230");
        threads.emplace_back([&, i] {
            // All at once, as a full hub at a station's start.
            for (--waiting; waiting > 0;)
                std::this_thread::yield();
            done_before.look_up(&records[size_t(i)], "aa");
        });
    }
    for (std::thread &t : threads)
        t.join();
    for (int i = 0; i < modules; ++i) {
        QCOMPARE(records[size_t(i)].again_checked, journal_text(journal_format::again_checked_words::database));
        QCOMPARE(records[size_t(i)].earlier.station, i % 2 ? QString() : QStringLiteral("station-a"));
    }
    const QByteArray name = db.name().toUtf8();
    const qint64 open = db.value("SELECT count(*) - 1 FROM pg_stat_activity WHERE datname = $1", {name}).toLongLong();
    QVERIFY2(open >= 1 && open <= DoneBefore::most_links, qPrintable(QString::number(open)));
}
