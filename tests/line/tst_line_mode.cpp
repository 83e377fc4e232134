// Line mode alone: the ports a test plugs in and pulls out by hand, modules
// whose ports do not open (or, to stop one mid-conversation, a pty that
// never answers), results in milliseconds. Which module hears what on the
// wire is the simulator suites' part (tst_cli, tst_station).
#include "line/line_mode.h"
#include "tests/support/pty_pair.h"

#include <QTemporaryDir>
#include <QtTest>

namespace {

class TestPorts : public PortSource
{
public:
    QMap<QString, FoundPort> plugged;
    bool events = true;
    int walks = 0;

    bool follow_changes() override { return events; }
    void walk() override
    {
        ++walks;
        emit walked(plugged.values());
    }
};

// What line mode told its view, module by module (in the order it was told
// of each: modules on threads of their own end in any order), notices as
// module -1.
class Recorder : public LineModeView
{
public:
    QMap<int, QStringList> told;
    LineCounts last;
    int results = 0;

    QString text() const
    {
        QStringList modules;
        for (auto it = told.cbegin(); it != told.cend(); ++it)
            modules << QStringLiteral("%1: %2").arg(it.key()).arg(it.value().join(", "));
        return modules.join("; ");
    }
    void arrival(int id, const QString &port, const QString &slot, const QString &) override
    {
        told[id] << QStringLiteral("arrive %1 %2").arg(port, slot);
    }
    void progress(int, qint64, qint64) override {}
    void finished(int id, const OperationRecord &record, bool, const JournalOutcome &kept) override
    {
        ++results;
        told[id] << QStringLiteral("result %1%2").arg(detail_of(record), kept.in_journal ? "" : " (not kept)");
    }
    void departure(int id) override { told[id] << QStringLiteral("depart"); }
    void counts(const LineCounts &counts) override { last = counts; }
    void notice(const QString &line) override { told[-1] << line; }
    void backlog(const BackgroundUpload::State &) override {}
};

} // namespace

class TestLineMode : public QObject
{
    Q_OBJECT

private slots:
    void follows_the_ports_data();
    void follows_the_ports();
};

void TestLineMode::follows_the_ports_data()
{
    QTest::addColumn<int>("open_retry_ms");
    QTest::addColumn<QString>("script");  // steps, "; " apart
    QTest::addColumn<QString>("told");    // what the view was told, as Recorder::text() says it
    QTest::addColumn<int>("failed");      // the counts at the end
    QTest::addColumn<int>("last_hour");
    const QString refused = "result port did not open";
    QTest::newRow("each plug-in served once, with ids of its own")
        << 0 << "plug A; plug B; walk; await 2; walk; walk; stop"
        << "0: arrive A 1-A, " + refused + "; 1: arrive B 1-B, " + refused << 2 << 2;
    QTest::newRow("pulled out and plugged in again: a new plug-in")
        << 0 << "plug A; walk; await 1; unplug A; walk; plug A; walk; await 2; stop"
        << "0: arrive A 1-A, " + refused + ", depart; 1: arrive A 1-A, " + refused << 2 << 2;
    // A module restarting faster than a walk: the port's name stays, its node is new.
    QTest::newRow("restarted between two walks")
        << 0 << "plug A; walk; await 1; restamp A; walk; await 2; stop"
        << "0: arrive A 1-A, " + refused + ", depart; 1: arrive A 1-A, " + refused << 2 << 2;
    QTest::newRow("pulled out while its port is tried again")
        << 2000 << "plug A; walk; unplug A; walk; await 1; stop" << "0: arrive A 1-A, depart, result unplugged" << 1 << 1;
    QTest::newRow("stopped while its port is tried again")
        << 2000 << "plug A; walk; stop" << "0: arrive A 1-A, result interrupted" << 1 << 1;
    QTest::newRow("stopped mid-conversation")
        << 0 << "plug silent; walk; heard; stop" << "0: arrive silent 1-silent, result interrupted" << 1 << 1;
    QTest::newRow("stopped with nothing plugged in") << 0 << "walk; stop" << "" << 0 << 0;
    QTest::newRow("no device-change events")
        << 0 << "deaf; stop" << "-1: no device-change events: looking for modules every 60000 ms" << 0 << 0;
    QTest::newRow("the modules named, once")
        << 0 << "serve A B" << "0: arrive A 1-A, " + refused + "; 1: arrive B 1-B, " + refused << 2 << 2;
    QTest::newRow("the modules named, the image refused") << 0 << "serve-refused A B"
        << "0: arrive A 1-A, result image not found; 1: arrive B 1-B, result image not found" << 2 << 2;
}

void TestLineMode::follows_the_ports()
{
    QFETCH(int, open_retry_ms);
    QFETCH(QString, script);
    QFETCH(QString, told);
    QFETCH(int, failed);
    QFETCH(int, last_hour);
    QTemporaryDir dir;
    PtyPair silent;
    QVERIFY(dir.isValid() && silent.ok());
    ModuleSession::Request request;
    request.open_retry_ms = open_retry_ms;
    LineMode line(request, Journal(dir.filePath("kv20-journal.csv")));
    QSignalSpy ended(&line, &LineMode::finished);
    TestPorts ports;
    Recorder view;
    const auto port = [&](const QString &name) {
        const QString node = name == "silent" ? silent.slave_path() : dir.filePath("no-such-node-" + name);
        return FoundPort {{name, node, name, QString(), "1-" + name}, "stamp 1"};
    };
    QList<ModuleSession::Target> named;
    for (const QString &step : script.split("; ")) {
        const QStringList word = step.split(' ');
        if (word[0] == "plug")
            ports.plugged.insert(word[1], port(word[1]));
        else if (word[0] == "unplug")
            ports.plugged.remove(word[1]);
        else if (word[0] == "restamp")
            ports.plugged[word[1]].stamp = "stamp 2";
        else if (word[0] == "walk" || word[0] == "deaf") {
            ports.events = word[0] == "walk";
            if (ports.walks == 0) {
                line.watch(&ports, 60000, &view);
            } else {
                // As a device event does: a walk of line mode's own, soon.
                const int walks = ports.walks;
                emit ports.changed();
                QTRY_VERIFY_WITH_TIMEOUT(ports.walks > walks, 2000);
            }
        } else if (word[0] == "await") {
            QTRY_COMPARE_WITH_TIMEOUT(view.results, word[1].toInt(), 5000);
        } else if (word[0] == "heard") {
            QByteArray heard;
            QTRY_VERIFY_WITH_TIMEOUT((heard += silent.read_for(5, 10)).contains("AT+"), 5000);
        } else if (word[0] == "stop") {
            line.stop();
        } else {
            for (const QString &name : word.mid(1))
                named << ModuleSession::Target {name, port(name).port.node, QString(), "1-" + name};
            line.serve(named, &view, word[0] == "serve-refused" ? Failure::image_not_found : Failure::none);
        }
    }
    QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 1, 5000);
    QCOMPARE(view.text(), told);
    QCOMPARE(view.last.failed, failed);
    QCOMPARE(view.last.ok + view.last.already_done + view.last.not_in_journal, 0);
    QCOMPARE(view.last.last_hour, last_hour);
    QVERIFY(!line.serving());
    // Every result is a record in the journal, and only those.
    QFile journal(dir.filePath("kv20-journal.csv"));
    QCOMPARE(journal.open(QIODevice::ReadOnly) ? journal.readAll().count('\n') - 1 : 0, failed);
}

QTEST_GUILESS_MAIN(TestLineMode)
#include "tst_line_mode.moc"
