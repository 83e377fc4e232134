// The serial link over a real pseudo-terminal: what reaches the line, when
// waits end, and how reads consume what arrived.
#include "tests/support/pty_pair.h"
#include "worker/serial_link.h"

#include <QElapsedTimer>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;

class SerialLinkTest : public QObject
{
    Q_OBJECT

private slots:
    void write_data_puts_exact_bytes_on_line();
    void wait_for_data_times_out_on_silence();
    void wait_for_data_ends_three_ms_after_a_burst();
    void data_before_the_wait_counts_for_it();
    void read_byte_takes_first_byte_and_drops_the_rest();
    void read_byte_reports_high_bytes_negative_and_silence_as_minus_one();
    void babbling_line_cannot_hold_wait_for_ever();
    void missing_port_fails_open_and_waits_run_into_timeout();
    void stop_request_ends_a_long_wait_from_another_thread();
    void vanished_device_closes_port_without_spinning();
};

void SerialLinkTest::write_data_puts_exact_bytes_on_line()
{
    PtyPair pty;
    QVERIFY(pty.ok());
    SerialLink link;
    QVERIFY(link.open(pty.slave_path()));
    link.write_data(QByteArrayLiteral("AT+WSMAC\r\n"));
    link.write_byte('\x18');
    link.write_data(QByteArray());
    QCOMPARE(pty.read_for(50, 1000), QByteArrayLiteral("AT+WSMAC\r\n\x18"));

    // A frame far larger than the pty's buffer still goes out whole.
    QByteArray big(200000, 'x');
    for (int i = 0; i < big.size(); ++i)
        big[i] = char(i * 7);
    std::thread writer([&] { link.write_data(big); });
    const QByteArray got = pty.read_exact(big.size(), 5000);
    writer.join();
    QCOMPARE(got.size(), big.size());
    QVERIFY(got == big);
}

void SerialLinkTest::wait_for_data_times_out_on_silence()
{
    PtyPair pty;
    SerialLink link;
    QVERIFY(link.open(pty.slave_path()));
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!link.wait_for_data(200));
    const qint64 elapsed = timer.elapsed();
    QVERIFY2(elapsed >= 195 && elapsed < 400, qPrintable(QString::number(elapsed)));
}

void SerialLinkTest::wait_for_data_ends_three_ms_after_a_burst()
{
    PtyPair pty;
    SerialLink link;
    QVERIFY(link.open(pty.slave_path()));
    // Two parts 1 ms apart belong to one burst; the wait ends only after the
    // line has been quiet for 3 ms.
    std::thread device([&] {
        std::this_thread::sleep_for(50ms);
        pty.write("+ok=");
        std::this_thread::sleep_for(1ms);
        pty.write("AA:BB\r\n");
    });
    QElapsedTimer timer;
    timer.start();
    QVERIFY(link.wait_for_data(200));
    const qint64 elapsed = timer.elapsed();
    device.join();
    QVERIFY2(elapsed >= 50 && elapsed < 120, qPrintable(QString::number(elapsed)));
    QCOMPARE(link.read_all(), QByteArrayLiteral("+ok=AA:BB\r\n"));
    QCOMPARE(link.read_all(), QByteArray());
}

void SerialLinkTest::data_before_the_wait_counts_for_it()
{
    PtyPair pty;
    SerialLink link;
    QVERIFY(link.open(pty.slave_path()));
    link.write_data("AT+SVER\r\n");
    pty.read_for(20, 1000);
    // A write on the master lands in the slave's input queue at once: the
    // reply is there before the wait begins.
    pty.write("+ok=2.0\r\n");
    QElapsedTimer timer;
    timer.start();
    QVERIFY(link.wait_once(1000));
    QVERIFY(timer.elapsed() < 100);
    QCOMPARE(link.read_all(), QByteArrayLiteral("+ok=2.0\r\n"));
}

void SerialLinkTest::read_byte_takes_first_byte_and_drops_the_rest()
{
    PtyPair pty;
    SerialLink link;
    QVERIFY(link.open(pty.slave_path()));
    pty.write(QByteArray("\x18\x18", 2));
    QCOMPARE(int(link.read_byte(1000)), 0x18);
    // The second CAN of the same read is gone.
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(int(link.read_byte(100)), -1);
    QVERIFY(timer.elapsed() >= 95);
}

void SerialLinkTest::read_byte_reports_high_bytes_negative_and_silence_as_minus_one()
{
    PtyPair pty;
    SerialLink link;
    QVERIFY(link.open(pty.slave_path()));
    pty.write(QByteArray(1, char(0x90)));
    QCOMPARE(int(link.read_byte(1000)), int(qint8(0x90)));
    pty.write(QByteArray(1, 'C'));
    QCOMPARE(int(link.read_byte(1000)), int('C'));
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(int(link.read_byte(150)), -1);
    QVERIFY(timer.elapsed() >= 145 && timer.elapsed() < 400);
}

void SerialLinkTest::babbling_line_cannot_hold_wait_for_ever()
{
    PtyPair pty;
    SerialLink link;
    QVERIFY(link.open(pty.slave_path()));
    std::atomic_bool talking {true};
    // Non-blocking writes: once the link stops reading, the device must not
    // hang on a full line.
    std::thread device([&] {
        const QByteArray noise(64, 'n');
        while (talking) {
            if (::write(pty.master(), noise.constData(), size_t(noise.size())) < 0)
                std::this_thread::yield();
        }
    });
    QElapsedTimer timer;
    timer.start();
    QVERIFY(link.wait_for_data(200));
    const qint64 elapsed = timer.elapsed();
    talking = false;
    device.join();
    // However long the line keeps talking, the wait ends by the cap (or
    // earlier, should a slow machine let the line fall quiet for 3 ms).
    QVERIFY2(elapsed < qint64(SerialLink::max_burst_ms) + 1000, qPrintable(QString::number(elapsed)));
    QVERIFY(!link.read_all().isEmpty());
}

void SerialLinkTest::missing_port_fails_open_and_waits_run_into_timeout()
{
    SerialLink link;
    QVERIFY(!link.open(QStringLiteral("/dev/kv20-no-such-port")));
    QVERIFY(!link.is_open());
    link.write_data("AT+INFO\r\n");
    QCOMPARE(link.read_all(), QByteArray());
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!link.wait_for_data(100));
    QVERIFY(timer.elapsed() >= 95);
    QCOMPARE(int(link.read_byte(50)), -1);
}

void SerialLinkTest::stop_request_ends_a_long_wait_from_another_thread()
{
    PtyPair pty;
    SerialLink link;
    QVERIFY(link.open(pty.slave_path()));
    std::thread stopper([&] {
        std::this_thread::sleep_for(100ms);
        link.request_stop();
    });
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!link.wait_for_data(10000));
    stopper.join();
    QVERIFY2(timer.elapsed() < 500, qPrintable(QString::number(timer.elapsed())));
    // Nothing goes out after a stop.
    link.write_data("AT+INFO\r\n");
    QCOMPARE(pty.read_for(20, 100), QByteArray());
}

void SerialLinkTest::vanished_device_closes_port_without_spinning()
{
    auto pty = std::make_unique<PtyPair>();
    SerialLink link;
    QVERIFY(link.open(pty->slave_path()));
    pty->hang_up();
    QElapsedTimer timer;
    timer.start();
    std::clock_t cpu_before = std::clock();
    QVERIFY(!link.wait_for_data(300));
    const double cpu_ms = 1000.0 * double(std::clock() - cpu_before) / CLOCKS_PER_SEC;
    QVERIFY(timer.elapsed() >= 295);
    QVERIFY(!link.is_open());
    // A wait on a dead line sleeps; it does not poll a failing port.
    QVERIFY2(cpu_ms < 150, qPrintable(QString::number(cpu_ms)));
}

QTEST_GUILESS_MAIN(SerialLinkTest)
#include "tst_serial_link.moc"
