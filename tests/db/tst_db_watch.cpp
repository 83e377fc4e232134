// kv20-cli watch --db serving simulated modules while the way to the
// database goes down and comes back: operations go on and are journaled,
// the backlog is shown, and every record arrives once.
#include "tests/db/test_database.h"
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

// socat carrying one connection from `port` to the test server: stopping
// it is the database going away for the station.
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

} // namespace

class TestDbWatch : public QObject
{
    Q_OBJECT

private slots:
    void records_wait_while_the_database_is_away();
};

void TestDbWatch::records_wait_while_the_database_is_away()
{
    if (TestDatabase::server_url().isEmpty())
        QSKIP("no test server (KV20_TEST_DB_URL; scripts/test-db.sh starts one)");
    QTemporaryDir dir;
    TestDatabase db;
    QString error;
    QVERIFY2(db.create(&error), qPrintable(error));
    QCOMPARE(CliRun({"db", "init", "--db", db.url()}, dir.path()).exit_code, 0);
    const quint16 port = free_port();
    QVERIFY(port != 0);
    QString via = db.url();
    via.replace(QRegularExpression(":\\d+/"), QStringLiteral(":%1/").arg(port));
    Way way;
    QVERIFY(way.open(port, TestDatabase::server_url()));

    std::vector<std::unique_ptr<ModuleSimProcess>> sims;
    const auto plug_in = [&] {
        sims.push_back(std::make_unique<ModuleSimProcess>(QStringList {"--device-tree=" + dir.filePath("sys")}));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("KV20_DEVICE_EVENT_FIFO", dir.filePath("events"));
        sims.back()->process().setProcessEnvironment(env);
        return sims.back()->start();
    };
    QVERIFY(plug_in() && plug_in());
    QProcess cli;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("KV20_SYSFS_ROOT", dir.filePath("sys"));
    env.insert("KV20_DEVICE_EVENT_FIFO", dir.filePath("events"));
    cli.setProcessEnvironment(env);
    cli.setWorkingDirectory(dir.path());
    cli.start(KV20_BIN_DIR "/kv20-cli", {"watch", "query", "--json", "--rescan-ms", "50", "--db", via});

    QList<QJsonObject> events;
    QByteArray pending;
    const auto wait_for = [&](const std::function<bool(const QJsonObject &)> &match, int count, int timeout_ms) {
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
    };
    const auto ok = [](const QJsonObject &e) { return e["event"] == "result" && e["result"] == "ok"; };
    const auto backlog = [](qint64 waiting, bool problem) {
        return [=](const QJsonObject &e) {
            return e["event"] == "backlog" && e["waiting"].toDouble() == waiting
                   && e["problem"].toString().isEmpty() != problem;
        };
    };
    QVERIFY(wait_for(ok, 2, 15000));
    QVERIFY(wait_for([&](const QJsonObject &e) { return e["event"] == "backlog" && e["waiting"] == 0; }, 1, 15000));
    QCOMPARE(db.number("SELECT count(*) FROM kv20_records"), 2);

    way.close();
    for (int i = 0; i < 3; ++i) {
        QVERIFY(plug_in());
        QFile fifo(dir.filePath("events"));
        QVERIFY(fifo.open(QIODevice::WriteOnly | QIODevice::Unbuffered) && fifo.write("add\n") == 4);
        QVERIFY2(wait_for(ok, 3 + i, 15000), cli.readAllStandardError());
    }
    // Every operation went on; the records wait in the journal.
    QVERIFY2(wait_for(backlog(3, true), 1, 30000), pending + cli.readAllStandardError());
    QCOMPARE(db.number("SELECT count(*) FROM kv20_records"), 2);

    const int caught_up = int(std::count_if(events.cbegin(), events.cend(), backlog(0, false)));
    QVERIFY(way.open(port, TestDatabase::server_url()));
    // Pauses of 1, 2, 4, 8 s at most so far.
    QVERIFY2(wait_for(backlog(0, false), caught_up + 1, 40000), cli.readAllStandardError());
    ::kill(pid_t(cli.processId()), SIGINT);
    QVERIFY(cli.waitForFinished(5000));
    QCOMPARE(cli.exitCode(), 130);
    QFile journal(dir.filePath("kv20-journal.csv"));
    QVERIFY(journal.open(QIODevice::ReadOnly));
    const QList<QStringList> records = read_csv(journal.readAll()).mid(1);
    QCOMPARE(records.size(), 5);
    QCOMPARE(db.number("SELECT count(*) FROM kv20_records"), 5);
    QCOMPARE(db.number("SELECT count(DISTINCT record_id) FROM kv20_records"), 5);
    way.close();
}

QTEST_GUILESS_MAIN(TestDbWatch)
#include "tst_db_watch.moc"
