// What the operator sees on a terminal in line mode, read back from the
// screen the printer drew: a module's line belongs to that module, not to
// its port's name, and what a module says is shown as text.
#include "cli/live_printer.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryFile>
#include <QtTest>

#include <cstdio>
#include <functional>
#include <unistd.h>

namespace {

// What the printers wrote on standard output while `print` ran.
QByteArray written_by(const std::function<void()> &print)
{
    QTemporaryFile screen;
    if (!screen.open())
        return QByteArray();
    const int saved = dup(STDOUT_FILENO);
    dup2(screen.handle(), STDOUT_FILENO);
    print();
    std::fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    QFile written(screen.fileName());
    return written.open(QIODevice::ReadOnly) ? written.readAll() : QByteArray();
}

} // namespace

class TestLivePrinter : public QObject
{
    Q_OBJECT

private slots:
    void late_result_stays_on_its_own_line();
    void module_text_shown_escaped_data();
    void module_text_shown_escaped();
};

// A module pulled out mid-transfer ends a moment after the next one has
// arrived under the same port name: its failure must not show as the new
// module's.
void TestLivePrinter::late_result_stays_on_its_own_line()
{
    const QByteArray drawn = written_by([] {
        LivePrinter printer(LivePrinter::terminal, QStringLiteral("kv20-cli watch: audio"));
        const int pulled = 0;
        printer.arrival(pulled, QStringLiteral("pts/3"), QString(), QStringLiteral("audio"));
        printer.progress(pulled, 2048, 6000);
        printer.departure(pulled);
        printer.arrival(1, QStringLiteral("pts/3"), QString(), QStringLiteral("audio"));
        OperationRecord late;
        late.port = QStringLiteral("pts/3");
        late.operation = QStringLiteral("audio");
        late.failure = Failure::unplugged;
        printer.finished(pulled, late, false, JournalOutcome());
        LineCounts counts;
        counts.failed = 1;
        printer.counts(counts);
        printer.finish();
    });

    // The last frame drawn: header, the ports' lines, summary.
    const QList<QByteArray> frame = drawn.mid(drawn.lastIndexOf("kv20-cli watch: audio")).split('\n');
    QCOMPARE(frame.size(), 4);  // and the end of the frame
    QVERIFY2(frame.at(1).contains("pts/3") && frame.at(1).contains("querying"), frame.at(1).constData());
    QVERIFY2(frame.at(2).contains("served 1  ok 0  failed 1"), frame.at(2).constData());
}

void TestLivePrinter::module_text_shown_escaped_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("line_mode");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<bool>("already_done");
    QTest::addColumn<QByteArray>("expected");  // %V: the value shown
    QTest::newRow("query, plain") << int(LivePrinter::plain) << false << true << false
                                  << QByteArray("%V: ok device_number=%V imei_or_mac=%V");
    QTest::newRow("query failed, terminal") << int(LivePrinter::terminal) << false << false << false
                                            << QByteArray("\r\x1b[K%V: failed: %V\n");
    QTest::newRow("line mode ok, terminal") << int(LivePrinter::terminal) << true << true << false
                                            << QByteArray("\r\x1b[K%V  \x1b[1;32mOK %V\x1b[0m\n");
    QTest::newRow("line mode already done, plain") << int(LivePrinter::plain) << true << true << true
                                                   << QByteArray("%V: arrived\n%V: already done %V\n");
    QTest::newRow("line mode failed, plain") << int(LivePrinter::plain) << true << false << false
                                             << QByteArray("%V: failed: %V\n");
    QTest::newRow("JSON") << int(LivePrinter::json) << true << true << false << QByteArray("\"port\":\"%J\"");
}

// Every text from outside in one value: line ends, tab, backslash, escape
// sequences, DEL, a C1 control (CSI).
void TestLivePrinter::module_text_shown_escaped()
{
    QFETCH(int, mode);
    QFETCH(bool, line_mode);
    QFETCH(bool, ok);
    QFETCH(bool, already_done);
    QFETCH(QByteArray, expected);
    const QString value = QString::fromUtf8("a\r\nb\t\\\x1b]0;t\x07\x1b[2J\x7f\xc2\x9b" "1m");
    OperationRecord record;
    record.port = record.device_number = record.imei_or_mac = record.detail_read_back = value;
    record.operation = QStringLiteral("query");
    record.ok = ok;
    const QByteArray drawn = written_by([&] {
        LivePrinter printer(LivePrinter::Mode(mode), line_mode ? QStringLiteral("kv20-cli watch: query") : QString());
        printer.arrival(7, value, QString(), record.operation);
        printer.finished(7, record, already_done, JournalOutcome());
        printer.finish();
    });
    expected.replace("%V", "a\\r\\nb\\t\\\\x1b]0;t\\x07\\x1b[2J\\x7f\\x9b1m");
    expected.replace("%J", "a\\r\\nb\\t\\\\\\u001b]0;t\\u0007\\u001b[2J\\u007f\\u009b1m");
    QVERIFY2(drawn.contains(expected), drawn.toPercentEncoding(" :/;=[]").constData());
    QVERIFY(!drawn.contains("\x1b]") && !drawn.contains("\x1b[2J") && !drawn.contains("\x7f")
            && !drawn.contains("\xc2\x9b"));
    if (mode == LivePrinter::json)
        QCOMPARE(QJsonDocument::fromJson(drawn.split('\n').at(1)).object().value("device_number").toString(), value);
}

QTEST_GUILESS_MAIN(TestLivePrinter)
#include "tst_live_printer.moc"
