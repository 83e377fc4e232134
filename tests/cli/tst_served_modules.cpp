// Which module coming back counts as the one served just now: the real
// bound of two minutes, with the times passed in.
#include "runner/served_modules.h"

#include <QtTest>

class TestServedModules : public QObject
{
    Q_OBJECT

private slots:
    void same_module_data();
    void same_module();
};

void TestServedModules::same_module_data()
{
    QTest::addColumn<QString>("device_number");  // of the module coming back
    QTest::addColumn<QString>("place");
    QTest::addColumn<qint64>("after_ms");         // its ok
    QTest::addColumn<bool>("already_done");
    const qint64 bound = ServedModules::same_module_ms;
    QTest::newRow("restarted in its socket") << "D1" << "1-1.4" << qint64(5000) << true;
    QTest::newRow("in its socket at the bound") << "D1" << "1-1.4" << bound << true;
    QTest::newRow("in its socket past the bound") << "D1" << "1-1.4" << bound + 1 << false;
    QTest::newRow("its twin in another socket") << "D1" << "1-1.3" << qint64(5000) << false;
    QTest::newRow("another module in its socket") << "D2" << "1-1.4" << qint64(5000) << false;
}

void TestServedModules::same_module()
{
    QFETCH(QString, device_number);
    QFETCH(QString, place);
    QFETCH(qint64, after_ms);
    QFETCH(bool, already_done);
    ServedModules served;
    OperationRecord record;
    record.operation = QStringLiteral("audio");
    record.device_number = QStringLiteral("D1");
    record.imei_or_mac = QStringLiteral("86001");
    const qint64 ok_ms = 1000000;
    served.add(ServedModules::key(record, "5e1f"), QStringLiteral("1-1.4"), ok_ms);
    // A twin served in a third socket a moment later hides neither.
    served.add(ServedModules::key(record, "5e1f"), QStringLiteral("1-1.2"), ok_ms + 1000);
    record.device_number = device_number;
    QCOMPARE(served.contains(ServedModules::key(record, "5e1f"), place, ok_ms + after_ms), already_done);
}

QTEST_GUILESS_MAIN(TestServedModules)
#include "tst_served_modules.moc"
