// kv20-cli watch --db serving simulated modules while the database server
// stops and starts again, or stops answering: operations go on and are
// journaled without waiting for it, the backlog is shown, every record
// arrives once, and a signal still ends the run promptly. Against a cluster
// of this program's own, so that stopping its server disturbs no other test.
#include "journal/journal.h"
#include "tests/db/test_database.h"
#include "tests/support/black_hole.h"
#include "tests/support/csv_reader.h"
#include "tests/support/module_sim_process.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <memory>

namespace {

// A free TCP port on 127.0.0.1 for the way to the database.
quint16 free_port()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost) ? probe.serverPort() : 0;
}

// socat carrying one connection from `port` to the test server: frozen,
// it is a database that stops answering in the middle of a conversation.
struct Way
{
    QProcess socat;
    bool open(quint16 port, const QString &server_url)
    {
        const QUrl url(server_url);
        socat.start("socat", {QStringLiteral("TCP-LISTEN:%1,bind=127.0.0.1,reuseaddr").arg(port),
                              QStringLiteral("TCP:127.0.0.1:%1").arg(url.port())});
        if (!socat.waitForStarted(5000))
            return false;
        // Listening once a connection is accepted.
        QElapsedTimer clock;
        for (clock.start(); clock.elapsed() < 5000; QTest::qWait(20)) {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, port);
            if (probe.waitForConnected(200)) {
                probe.abort();
                // That connection was the one socat carries: start it again.
                socat.waitForFinished(5000);
                socat.start("socat", {QStringLiteral("TCP-LISTEN:%1,bind=127.0.0.1,reuseaddr").arg(port),
                                      QStringLiteral("TCP:127.0.0.1:%1").arg(url.port())});
                return socat.waitForStarted(5000);
            }
        }
        return false;
    }
    void close()
    {
        socat.kill();
        socat.waitForFinished(5000);
    }
};

// kv20-cli watch query --json --db URL in a folder of its own, serving
// simulated modules: those plugged in before start() are found by the first
// scan, later ones are announced on the device event fifo.
struct Watch
{
    QTemporaryDir dir;
    std::vector<std::unique_ptr<ModuleSimProcess>> sims;
    QProcess cli;
    // Where the events are read: the program's output, or a `cat` it writes
    // to, whose end is the output closed.
    QProcess output_reader;
    QProcess *output = &cli;
    QList<QJsonObject> events;
    QByteArray pending;

    bool plug_in()
    {
        sims.push_back(std::make_unique<ModuleSimProcess>(QStringList {"--device-tree=" + dir.filePath("sys")}));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("KV20_DEVICE_EVENT_FIFO", dir.filePath("events"));
        sims.back()->process().setProcessEnvironment(env);
        if (!sims.back()->start())
            return false;
        if (cli.state() == QProcess::NotRunning)
            return true;
        QFile fifo(dir.filePath("events"));
        return fifo.open(QIODevice::WriteOnly | QIODevice::Unbuffered) && fifo.write("add\n") == 4;
    }
    void start(const QString &db_url, bool through_reader = false)
    {
        if (through_reader) {
            cli.setStandardOutputProcess(&output_reader);
            output_reader.start("cat", QStringList());
            output = &output_reader;
        }
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("KV20_SYSFS_ROOT", dir.filePath("sys"));
        env.insert("KV20_DEVICE_EVENT_FIFO", dir.filePath("events"));
        cli.setProcessEnvironment(env);
        cli.setWorkingDirectory(dir.path());
        cli.start(KV20_BIN_DIR "/kv20-cli", {"watch", "query", "--json", "--rescan-ms", "50", "--db", db_url});
    }
    void read_events()
    {
        pending += output->readAllStandardOutput();
        for (int end; (end = pending.indexOf('\n')) >= 0; pending.remove(0, end + 1))
            events << QJsonDocument::fromJson(pending.left(end)).object();
    }
    // Until `count` events match, the program ends or timeout_ms passes.
    bool wait_for(const std::function<bool(const QJsonObject &)> &match, int count, int timeout_ms)
    {
        QElapsedTimer clock;
        for (clock.start();; output->waitForReadyRead(50)) {
            read_events();
            if (std::count_if(events.cbegin(), events.cend(), match) >= count)
                return true;
            if (clock.elapsed() > timeout_ms || cli.state() == QProcess::NotRunning)
                return false;
        }
    }
    int journal_records() { return read_csv(read_file(dir.filePath("kv20-journal.csv"))).size() - 1; }
};

bool ok(const QJsonObject &e)
{
    return e["event"] == "result" && e["result"] == "ok";
}

std::function<bool(const QJsonObject &)> backlog(qint64 waiting, bool problem)
{
    return [=](const QJsonObject &e) {
        return e["event"] == "backlog" && e["waiting"].toDouble() == waiting
               && e["problem"].toString().isEmpty() != problem;
    };
}

// A test cluster of its own (scripts/test-db.sh) in a folder its
// unprivileged owner can reach.
struct OwnCluster
{
    const QString dir = QDir::temp().filePath(QStringLiteral("kv20-db-watch-%1").arg(QCoreApplication::applicationPid()));

    // One of test-db.sh's functions on this cluster.
    bool run(const QString &function) const
    {
        QProcess bash;
        bash.setProcessChannelMode(QProcess::ForwardedChannels);
        bash.start("bash", {"-c", QStringLiteral("source %1/scripts/test-db.sh && %2 \"$0\"").arg(KV20_SOURCE_DIR, function),
                            dir});
        return bash.waitForFinished(120000) && bash.exitStatus() == QProcess::NormalExit && bash.exitCode() == 0;
    }
    QByteArray read(const char *name) const { return read_file(dir + '/' + name).trimmed(); }
};

// The URL of the test database with the port replaced.
QString via_port(const TestDatabase &db, quint16 port)
{
    QString via = db.url();
    return via.replace(QRegularExpression(":\\d+/"), QStringLiteral(":%1/").arg(port));
}

} // namespace

class TestDbWatch : public QObject
{
    Q_OBJECT

    OwnCluster cluster;
    std::unique_ptr<Watch> w;
    std::unique_ptr<TestDatabase> db;

private slots:
    void initTestCase()
    {
        if (TestDatabase::server_url().isEmpty())
            QSKIP("no test server (KV20_TEST_DB_URL; scripts/test-db.sh starts one)");
        QVERIFY(cluster.run("kv20_test_db_start"));
        qputenv("KV20_TEST_DB_URL", "postgresql://kv20_admin@127.0.0.1:" + cluster.read("port") + "/postgres");
        qputenv("PGPASSWORD", cluster.read("pwfile"));
    }
    void cleanupTestCase() { cluster.run("kv20_test_db_stop"); }
    // A database of the test's own with the schema, and a folder to watch from.
    void init()
    {
        w = std::make_unique<Watch>();
        db = std::make_unique<TestDatabase>();
        QString error;
        QVERIFY2(db->create(&error), qPrintable(error));
        QCOMPARE(CliRun({"db", "init", "--db", db->url()}, w->dir.path()).exit_code, 0);
    }
    void cleanup()
    {
        w.reset();
        db.reset();
    }

    void records_wait_while_the_server_is_stopped();
    void operations_go_on_while_the_database_is_silent_data();
    void operations_go_on_while_the_database_is_silent();
};

void TestDbWatch::records_wait_while_the_server_is_stopped()
{
    // A row the journal holds from before, which is no record: named once,
    // counted to the end, never sent.
    QFile journal(w->dir.filePath("kv20-journal.csv"));
    QVERIFY(journal.open(QIODevice::WriteOnly));
    journal.write("\xEF\xBB\xBF" + Journal::header_row() + "2026-12-06T06:00:00.000+08:00,cli,COM5,query,DN,86,,,,,,ok,,10,"
                  "6f1c2a47-3b52-4e0a-9d61-0f2a8c7be913 or so,s1,,,,,,,\r\n");
    journal.close();
    QVERIFY(w->plug_in() && w->plug_in());
    w->start(db->url());
    QVERIFY(w->wait_for(ok, 2, 15000));
    QTRY_COMPARE_WITH_TIMEOUT(db->number("SELECT count(*) FROM kv20_records"), 2, 15000);

    // The uploader's connection is ended by the server, and no new one is taken.
    QVERIFY(cluster.run("kv20_test_db_server_stop"));
    for (int i = 0; i < 3; ++i) {
        QVERIFY(w->plug_in());
        QVERIFY2(w->wait_for(ok, 3 + i, 15000), w->cli.readAllStandardError());
    }
    // Every operation went on; the records wait in the journal.
    QVERIFY2(w->wait_for(backlog(3, true), 1, 30000), w->pending + w->cli.readAllStandardError());
    QCOMPARE(w->journal_records(), 6);

    const int caught_up = int(std::count_if(w->events.cbegin(), w->events.cend(), backlog(0, false)));
    QVERIFY(cluster.run("kv20_test_db_server_start"));
    // Pauses of 1, 2, 4, 8, 16 s at most so far.
    QVERIFY2(w->wait_for(backlog(0, false), caught_up + 1, 40000), w->cli.readAllStandardError());
    ::kill(pid_t(w->cli.processId()), SIGINT);
    QVERIFY(w->cli.waitForFinished(5000));
    QCOMPARE(w->cli.exitCode(), 130);
    QCOMPARE(w->journal_records(), 6);
    QCOMPARE(db->number("SELECT count(*) FROM kv20_records"), 5);
    QCOMPARE(db->number("SELECT count(DISTINCT record_id) FROM kv20_records"), 5);
    w->read_events();
    const QString named = w->dir.filePath("kv20-journal.csv") + ": line 2: record_id not a UUID";
    QCOMPARE(std::count_if(w->events.cbegin(), w->events.cend(),
                           [&](const QJsonObject &e) { return e["event"] == "unreadable" && e["row"] == named; }),
             1);
    QCOMPARE(w->events.back()["event"], QJsonValue("summary"));
    QCOMPARE(w->events.back()["unreadable"], QJsonValue(1));
}

// A database that takes the connection and then says nothing, or a host
// that drops every packet, holds the uploader until its own deadlines (the
// connect's 10 s, a statement's 60 s); the line must not feel any of it, and
// the run ends within 2 s of being told to, whatever the upload is doing.
void TestDbWatch::operations_go_on_while_the_database_is_silent_data()
{
    QTest::addColumn<QString>("way");
    QTest::addColumn<bool>("close_output");  // the run's end: its output closed, else SIGTERM
    // A listener nobody serves: the kernel completes the handshake, libpq
    // waits for the server's first word until the uploader's connect deadline.
    QTest::newRow("silent from the start") << "silent" << false;
    // The way is frozen once the first record is in: the next batch is sent
    // on a live connection and its answer never comes.
    QTest::newRow("silent after the first record") << "frozen" << false;
    // No handshake at all: the uploader is inside its connect at the end.
    QTest::newRow("a host that drops packets") << "drops" << false;
    QTest::newRow("a host that drops packets, the output closed") << "drops" << true;
}

void TestDbWatch::operations_go_on_while_the_database_is_silent()
{
    QFETCH(QString, way);
    QFETCH(bool, close_output);
    Watch &w = *this->w;
    QTcpServer silent;
    Way relay;
    BlackHole black_hole;
    quint16 port = free_port();
    if (way == "frozen")
        QVERIFY(relay.open(port, TestDatabase::server_url()));
    else if (way == "silent")
        QVERIFY(silent.listen(QHostAddress::LocalHost, port));
    else
        port = black_hole.port();
    QVERIFY(port != 0);

    QVERIFY(w.plug_in());
    w.start(via_port(*db, port), close_output);
    QVERIFY2(w.wait_for(ok, 1, 15000), w.cli.readAllStandardError());
    if (way == "frozen") {
        QVERIFY2(w.wait_for(backlog(0, false), 1, 15000), w.cli.readAllStandardError());
        QCOMPARE(db->number("SELECT count(*) FROM kv20_records"), 1);
        ::kill(pid_t(relay.socat.processId()), SIGSTOP);
    }

    // Far below what the uploader may wait for the database: an operation
    // that waited for it would miss this.
    const int served_within_ms = 5000;
    QVERIFY(w.plug_in());
    QVERIFY2(w.wait_for(ok, 2, served_within_ms), w.cli.readAllStandardError());
    // The result is shown once the record is in the journal.
    QCOMPARE(w.journal_records(), 2);

    QElapsedTimer clock;
    clock.start();
    if (close_output)
        w.output_reader.kill();
    else
        ::kill(pid_t(w.cli.processId()), SIGTERM);
    QVERIFY2(w.cli.waitForFinished(5000), "still running after its end");
    // Within 2 s, the bound the operator is promised.
    QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(w.cli.exitCode(), close_output ? 141 : 143);
    relay.close();
    const int not_sent = way == "frozen" ? 1 : 2;
    QCOMPARE(db->number("SELECT count(*) FROM kv20_records"), 2 - not_sent);
    if (close_output)
        return;
    // What the database did not take waits for the next run, and the
    // summary says so even when the stop came before the uploader saw it.
    w.read_events();
    QCOMPARE(w.events.isEmpty() ? QJsonValue() : w.events.back()["event"], QJsonValue("summary"));
    QVERIFY2(w.events.back()["waiting"] == not_sent, QJsonDocument(w.events.back()).toJson());
}

QTEST_GUILESS_MAIN(TestDbWatch)
#include "tst_db_watch.moc"
