// The serial link over a real pseudo-terminal: the device's faults and the
// byte rules the conversations are built on. Each row plays the device on the
// pty master and reports what the link returned, within an upper time bound;
// a row with a CPU bound must not spin.
#include "tests/support/pty_pair.h"
#include "worker/serial_link.h"

#include <QElapsedTimer>
#include <QtTest>

#include <atomic>
#include <ctime>
#include <functional>
#include <iterator>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

QByteArray yes(bool b) { return b ? "true " : "false "; }

// The device acts on its own thread while the link waits.
struct Device : std::thread
{
    using std::thread::thread;
    ~Device() { join(); }
};

struct Row
{
    const char *name;
    std::function<QByteArray(PtyPair &, SerialLink &)> run;
    QByteArray result;
    int max_ms, max_cpu_ms;
};

const Row rows[] = {
    {"vanished pty: the error storm closes the port, the wait sleeps",
     [](PtyPair &pty, SerialLink &link) {
         pty.hang_up();
         const QByteArray got = yes(link.wait_for_data(300));
         return got + yes(link.is_open());
     },
     "false false ", 1000, 150},
    {"line that never pauses: the wait ends at its cap",
     [](PtyPair &pty, SerialLink &link) {
         std::atomic_bool waiting {true};
         // Non-blocking writes: the device never hangs on a full line, and
         // gives up by itself well after the cap.
         Device babbler([&] {
             QElapsedTimer t;
             for (t.start(); waiting && t.elapsed() < 6000;)
                 if (::write(pty.master(), "babble", 6) < 0)
                     std::this_thread::yield();
         });
         const QByteArray got = yes(link.wait_for_data(200));
         waiting = false;
         return got;
     },
     "true ", int(SerialLink::max_burst_ms) + 1000, -1},
    {"stop from another thread: the wait returns, nothing more is written",
     [](PtyPair &pty, SerialLink &link) {
         Device stopper([&] {
             std::this_thread::sleep_for(100ms);
             link.request_stop();
         });
         const QByteArray got = yes(link.wait_for_data(10000));
         link.write_data("AT+INFO\r\n");
         return got + pty.read_for(20, 100);
     },
     "false ", 800, -1},
    {"reply in two parts 1 ms apart: one burst, ended by 3 ms of quiet",
     [](PtyPair &pty, SerialLink &link) {
         Device module([&] {
             std::this_thread::sleep_for(50ms);
             pty.write("+ok=");
             std::this_thread::sleep_for(1ms);
             pty.write("AA:BB\r\n");
         });
         const QByteArray got = yes(link.wait_for_data(500));
         return got + link.read_all();
     },
     "true +ok=AA:BB\r\n", 400, -1},
    {"reply there before the wait: the wait returns at once",
     [](PtyPair &pty, SerialLink &link) {
         link.write_data("AT+SVER\r\n");
         pty.read_for(20, 1000);
         pty.write("+ok=2.0\r\n");
         const QByteArray got = yes(link.wait_once(2000));
         return got + link.read_all();
     },
     "true +ok=2.0\r\n", 500, -1},
    {"read_byte takes one read: its first byte (negative above 0x7F), the rest dropped",
     [](PtyPair &pty, SerialLink &link) {
         pty.write("\x90\x18");
         const QByteArray first = QByteArray::number(link.read_byte(1000));
         return first + " " + QByteArray::number(link.read_byte(100));
     },
     "-112 -1", 600, -1},
    {"a write far larger than the pty's buffer arrives whole",
     [](PtyPair &pty, SerialLink &link) {
         QByteArray big(200000, 0), got;
         for (int i = 0; i < big.size(); ++i)
             big[i] = char(i * 7 + i / 1000);
         {
             Device reader([&] { got = pty.read_for(1000, 5000); });
             link.write_data(big);
         }
         return yes(got == big);
     },
     "true ", 5000, -1},
};

} // namespace

class SerialLinkTest : public QObject
{
    Q_OBJECT

private slots:
    void link_data()
    {
        QTest::addColumn<int>("row");
        for (int i = 0; i < int(std::size(rows)); ++i)
            QTest::newRow(rows[i].name) << i;
    }

    void link()
    {
        QFETCH(int, row);
        PtyPair pty;
        SerialLink link;
        QVERIFY(link.open(pty.slave_path()));
        QElapsedTimer timer;
        timer.start();
        const std::clock_t cpu = std::clock();
        QCOMPARE(rows[row].run(pty, link), rows[row].result);
        const int cpu_ms = int(1000 * (std::clock() - cpu) / CLOCKS_PER_SEC), ms = int(timer.elapsed());
        QVERIFY2(ms <= rows[row].max_ms, qPrintable(QString::number(ms)));
        QVERIFY2(rows[row].max_cpu_ms < 0 || cpu_ms <= rows[row].max_cpu_ms, qPrintable(QString::number(cpu_ms)));
    }
};

QTEST_GUILESS_MAIN(SerialLinkTest)
#include "tst_serial_link.moc"
