#include "tests/xmodem/xmodem_frames.h"
#include "xmodem/crc16.h"

#include <QtTest>

class TestCrc16 : public QObject
{
    Q_OBJECT

private slots:
    // Known answers of CRC-16/XMODEM, then data long enough to reach every
    // entry of the table, judged by the bitwise computation.
    void table_crc_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<int>("crc");
        QTest::newRow("check string") << QByteArray("123456789") << 0x31C3;
        QTest::newRow("empty") << QByteArray() << 0x0000;
        QTest::newRow("letter A") << QByteArray("A") << 0x58E5;
        QTest::newRow("byte 0xFF") << QByteArray(1, '\xff') << 0x1EF0;
        for (int length : {255, 1024, 4099}) {
            const QByteArray data = xm::image(length, quint32(length));
            QTest::addRow("%d random bytes", length) << data << int(xm::crc16_bitwise(data));
        }
        const QByteArray pad(1024, '\x1a');
        QTest::newRow("pad block") << pad << int(xm::crc16_bitwise(pad));
    }

    void table_crc()
    {
        QFETCH(QByteArray, input);
        QFETCH(int, crc);
        QCOMPARE(int(crc16_xmodem(input.constData(), input.size())), crc);
        QCOMPARE(int(xm::crc16_bitwise(input)), crc);
    }
};

QTEST_APPLESS_MAIN(TestCrc16)
#include "tst_crc16.moc"
