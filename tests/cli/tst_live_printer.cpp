// What the operator sees on a terminal in line mode, read back from the
// screen the printer drew: a module's line belongs to that module, not to
// its port's name.
#include "cli/live_printer.h"

#include <QTemporaryFile>
#include <QtTest>

#include <cstdio>
#include <unistd.h>

class TestLivePrinter : public QObject
{
    Q_OBJECT

private slots:
    void late_result_stays_on_its_own_line();
};

// A module pulled out mid-transfer ends a moment after the next one has
// arrived under the same port name: its failure must not show as the new
// module's.
void TestLivePrinter::late_result_stays_on_its_own_line()
{
    QTemporaryFile screen;
    QVERIFY(screen.open());
    const int saved = dup(STDOUT_FILENO);
    QVERIFY(dup2(screen.handle(), STDOUT_FILENO) >= 0);
    {
        LivePrinter printer(LivePrinter::terminal, QStringLiteral("kv20-cli watch: audio"));
        const int pulled = printer.add(QStringLiteral("pts/3"), QStringLiteral("audio"));
        printer.progress(pulled, 2048, 6000);
        printer.removal(pulled);
        printer.add(QStringLiteral("pts/3"), QStringLiteral("audio"));
        OperationRecord late;
        late.port = QStringLiteral("pts/3");
        late.operation = QStringLiteral("audio");
        late.detail = QStringLiteral("unplugged");
        printer.result(pulled, late);
        printer.finish();
    }
    std::fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);

    // The last frame drawn: header, the ports' lines, summary.
    QFile written(screen.fileName());
    QVERIFY(written.open(QIODevice::ReadOnly));
    const QByteArray drawn = written.readAll();
    const QList<QByteArray> frame = drawn.mid(drawn.lastIndexOf("kv20-cli watch: audio")).split('\n');
    QCOMPARE(frame.size(), 4);  // and the end of the frame
    QVERIFY2(frame.at(1).contains("pts/3") && frame.at(1).contains("querying"), frame.at(1).constData());
    QVERIFY2(frame.at(2).contains("served 1  ok 0  failed 1"), frame.at(2).constData());
}

QTEST_GUILESS_MAIN(TestLivePrinter)
#include "tst_live_printer.moc"
