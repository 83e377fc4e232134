#include "xmodem/crc16.h"

#include <QByteArray>
#include <QRandomGenerator>
#include <QtTest>

namespace {

// Bit by bit, straight from the polynomial; shares nothing with the table.
quint16 bitwise_crc(const QByteArray &data)
{
    quint16 crc = 0;
    for (char c : data) {
        crc ^= static_cast<quint16>(static_cast<quint8>(c) << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? static_cast<quint16>((crc << 1) ^ 0x1021) : static_cast<quint16>(crc << 1);
    }
    return crc;
}

} // namespace

class TestCrc16 : public QObject
{
    Q_OBJECT

private slots:
    void known_answers_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<int>("crc");
        QTest::newRow("check string") << QByteArray("123456789") << 0x31C3;
        QTest::newRow("empty") << QByteArray() << 0x0000;
        QTest::newRow("letter A") << QByteArray("A") << 0x58E5;
        QTest::newRow("one zero byte") << QByteArray(1, '\0') << 0x0000;
        QTest::newRow("byte 0xFF") << QByteArray(1, '\xff') << 0x1EF0;
    }

    void known_answers()
    {
        QFETCH(QByteArray, input);
        QFETCH(int, crc);
        QCOMPARE(int(crc16_xmodem(input.constData(), input.size())), crc);
        QCOMPARE(int(bitwise_crc(input)), crc);
    }

    void agrees_with_bitwise_computation()
    {
        QRandomGenerator gen(20240611);
        for (int length : {1, 2, 127, 128, 255, 256, 1023, 1024, 4099}) {
            QByteArray data(length, '\0');
            for (char &c : data)
                c = static_cast<char>(gen.bounded(256));
            QCOMPARE(crc16_xmodem(data.constData(), data.size()), bitwise_crc(data));
        }
        const QByteArray pad(1024, '\x1a');
        QCOMPARE(crc16_xmodem(pad.constData(), pad.size()), bitwise_crc(pad));
    }

    void length_limits_the_input()
    {
        const QByteArray data("123456789XYZ");
        QCOMPARE(int(crc16_xmodem(data.constData(), 9)), 0x31C3);
        QCOMPARE(int(crc16_xmodem(data.constData(), 0)), 0);
    }
};

QTEST_APPLESS_MAIN(TestCrc16)
#include "tst_crc16.moc"
