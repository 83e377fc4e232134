#include "tests/sim/tst_module_sim.h"

#include "tests/sim/sim_port.h"
#include "tests/sim/xmodem_frames.h"
#include "tests/support/module_sim_process.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

namespace {

QByteArray file_text(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// The link's own text, not the resolved target.
QByteArray link_text(const QString &path)
{
    char buf[4096];
    const ssize_t n = ::readlink(QFile::encodeName(path).constData(), buf, sizeof buf);
    return n > 0 ? QByteArray(buf, int(n)) : QByteArray("<not a link>");
}

struct Run
{
    int code = -1;
    QByteArray out;
    QByteArray err;
};

Run run_sim(const QStringList &args)
{
    QProcess p;
    p.setStandardInputFile(QProcess::nullDevice());
    p.start(QStringLiteral(KV20_MODULE_SIM_PATH), args);
    Run r;
    if (!p.waitForFinished(5000)) {
        p.kill();
        p.waitForFinished(2000);
        return r;
    }
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

int pty_number(const QString &path)
{
    return path.mid(QStringLiteral("/dev/pts/").size()).toInt();
}

} // namespace

void TestModuleSim::stops_cleanly_on_sigterm_without_stdin()
{
    // ModuleSimProcess gives the simulator no stdin at all; it must keep
    // running regardless and end only on the signal.
    ModuleSimProcess sim;
    QVERIFY(sim.start());
    SimPort port(sim.device_path());
    QCOMPARE(port.ask("AT+LVER\r\n"), QByteArray("+ok=KV20-FW-1.0.7\r\n"));
    QVERIFY(sim.running());
    sim.stop();
    QVERIFY(!sim.running());
    QCOMPARE(sim.exit_status(), QProcess::NormalExit);
    QCOMPARE(sim.exit_code(), 0);
    QVERIFY(sim.stderr_log().contains("stopped"));
    QVERIFY(!QFileInfo::exists(sim.device_path()) || port.wait_vanished(1000));
}

void TestModuleSim::quiet_logs_nothing()
{
    ModuleSimProcess sim({"--quiet"});
    QVERIFY(sim.start());
    SimPort port(sim.device_path());
    QCOMPARE(port.ask("AT+LVER\r\n"), QByteArray("+ok=KV20-FW-1.0.7\r\n"));
    sim.stop();
    QCOMPARE(sim.exit_code(), 0);
    QCOMPARE(sim.stderr_log(), QByteArray());

    // The same exchange without --quiet is logged, so the check above can fail.
    ModuleSimProcess loud;
    QVERIFY(loud.start());
    SimPort loud_port(loud.device_path());
    QCOMPARE(loud_port.ask("AT+LVER\r\n"), QByteArray("+ok=KV20-FW-1.0.7\r\n"));
    QVERIFY(loud.wait_for_log("command AT+LVER -> +ok=KV20-FW-1.0.7\\r\\n", 1000));
}

void TestModuleSim::rejects_bad_options()
{
    const QList<QPair<QStringList, QByteArray>> cases = {
        {{"--pace=fast"}, "--pace"},
        {{"--variant", "lte"}, "--variant"},
        {{"--soh-size", "512"}, "--soh-size"},
        {{"--late-ms", "-5"}, "--late-ms"},
        {{"--eot-reply", "maybe"}, "--eot-reply"},
        {{"--no-such-option"}, "no-such-option"},
        {{"stray"}, "stray"},
    };
    for (const auto &c : cases) {
        const Run r = run_sim(c.first);
        QVERIFY2(r.code == 2, qPrintable(c.first.join(' ')));
        QVERIFY2(r.err.contains(c.second), r.err.constData());
        QVERIFY(r.out.isEmpty());
    }
}

void TestModuleSim::help_documents_every_option()
{
    const Run r = run_sim({"--help"});
    QCOMPARE(r.code, 0);
    const QStringList options = {
        "help", "variant", "quiet", "link", "pace", "device-tree", "identity", "no-product", "mac", "fw-version",
        "audio-version", "serial", "devno", "imei", "iccid", "no-reply", "late-ms", "bursts", "burst-gap-ms",
        "no-marker", "garbage-before", "garbage-instead", "nul-before-marker", "ack-upper", "no-download-ack",
        "unplug-reply-bytes", "fault-command", "fault-times", "ack-with-c", "checksum", "soh-size",
        "first-request-ms", "request-interval-ms", "request-limit", "frame-timeout-ms", "save-image",
        "strip-padding", "nak-block", "nak-times", "silent-block", "cancel-block", "cancel-gap-ms", "eot-reply",
        "eot-fault-times", "unplug-block"};
    const QStringList lines = QString::fromUtf8(r.out).split('\n');
    for (const QString &name : options) {
        int found = 0;
        for (const QString &line : lines) {
            const QString trimmed = line.trimmed();
            const QString head = trimmed.section(' ', 0, 0);
            if (head == "--" + name || head.startsWith("--" + name + "=") || head.startsWith("--" + name + "[")) {
                ++found;
                // A description follows the option on the same line.
                QVERIFY2(trimmed.section(' ', 1).trimmed().size() > 5, qPrintable(line));
            }
        }
        QVERIFY2(found == 1, qPrintable(name));
    }
    // Every option the help shows is one the simulator accepts.
    int documented = 0;
    for (const QString &line : lines)
        documented += line.startsWith("  --") ? 1 : 0;
    QCOMPARE(documented, options.size());
}

void TestModuleSim::link_points_at_the_pty_until_exit()
{
    QTemporaryDir dir;
    const QString link = dir.filePath("ttyKV20");
    ModuleSimProcess sim({"--link", link});
    QVERIFY(sim.start());
    QCOMPARE(link_text(link), sim.device_path().toLocal8Bit());
    SimPort port(link);
    QVERIFY(port.ok());
    QCOMPARE(port.ask("AT+DEVSN\r\n"), QByteArray("+ok=KV20SIM000001\r\n"));
    sim.stop();
    QVERIFY(!QFileInfo(link).isSymLink());
}

void TestModuleSim::device_tree_layout_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("vendor");
    QTest::addColumn<QByteArray>("product_id");
    QTest::addColumn<QString>("interface");
    QTest::addColumn<QByteArray>("interface_number");
    QTest::addColumn<bool>("has_product");

    QTest::newRow("module") << QStringList() << QByteArray("3505\n") << QByteArray("0001\n") << "1-1:1.2"
                            << QByteArray("02\n") << true;
    QTest::newRow("alt") << QStringList {"--identity", "alt"} << QByteArray("19d1\n") << QByteArray("0001\n")
                         << "1-1:1.6" << QByteArray("06\n") << true;
    QTest::newRow("other") << QStringList {"--identity", "other"} << QByteArray("1a86\n") << QByteArray("7523\n")
                           << "1-1:1.0" << QByteArray("00\n") << true;
    QTest::newRow("no product") << QStringList {"--no-product"} << QByteArray("3505\n") << QByteArray("0001\n")
                                << "1-1:1.2" << QByteArray("02\n") << false;
}

void TestModuleSim::device_tree_layout()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, vendor);
    QFETCH(QByteArray, product_id);
    QFETCH(QString, interface);
    QFETCH(QByteArray, interface_number);
    QFETCH(bool, has_product);

    QTemporaryDir dir;
    ModuleSimProcess sim(QStringList {"--device-tree", dir.path()} + args);
    QVERIFY(sim.start());
    const int n = pty_number(sim.device_path());
    const QString tty = QStringLiteral("kv20sim%1").arg(n);
    const QString usb = dir.path() + "/devices/kv20sim/usb1/1-1";
    const QString iface = usb + '/' + interface;
    const QString tty_dir = iface + "/tty/" + tty;

    QCOMPARE(file_text(usb + "/idVendor"), vendor);
    QCOMPARE(file_text(usb + "/idProduct"), product_id);
    QCOMPARE(QFileInfo::exists(usb + "/product"), has_product);
    if (has_product)
        QCOMPARE(file_text(usb + "/product"), QByteArray("KV20 Simulated Module\n"));
    QCOMPARE(file_text(iface + "/bInterfaceNumber"), interface_number);
    QCOMPARE(file_text(tty_dir + "/uevent"), QStringLiteral("MAJOR=136\nMINOR=%1\nDEVNAME=pts/%1\n").arg(n).toLatin1());

    QCOMPARE(link_text(tty_dir + "/device"), QByteArray("../.."));
    QCOMPARE(QFileInfo(tty_dir + "/device").canonicalFilePath(), QFileInfo(iface).canonicalFilePath());
    const QString class_link = dir.path() + "/class/tty/" + tty;
    QCOMPARE(link_text(class_link), ("../../devices/kv20sim/usb1/1-1/" + interface + "/tty/" + tty).toLatin1());
    QCOMPARE(QFileInfo(class_link).canonicalFilePath(), QFileInfo(tty_dir).canonicalFilePath());

    // No temporary names left behind.
    const auto all = QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System;
    QCOMPARE(QDir(dir.path() + "/devices").entryList(all), QStringList {"kv20sim"});
    QCOMPARE(QDir(dir.path() + "/class/tty").entryList(all), QStringList {tty});

    sim.stop();
    QVERIFY(QFileInfo::exists(dir.path()));
    QCOMPARE(QDir(dir.path()).entryList(all), QStringList());
}

void TestModuleSim::device_tree_refuses_a_second_device()
{
    QTemporaryDir dir;
    ModuleSimProcess first({"--device-tree", dir.path()});
    QVERIFY(first.start());
    const Run second = run_sim({"--device-tree", dir.path()});
    QCOMPARE(second.code, 1);
    QVERIFY(second.out.isEmpty());
    QVERIFY(second.err.contains("already holds"));
    const QString tty = QStringLiteral("kv20sim%1").arg(pty_number(first.device_path()));
    QVERIFY(QFileInfo::exists(dir.path() + "/class/tty/" + tty + "/uevent"));
}

void TestModuleSim::pacing_limits_both_directions()
{
    const QString mac(10240, 'M');
    const QByteArray reply = "+ok=" + mac.toLatin1() + "\r\n";

    // Unpaced, 10 KiB is a matter of milliseconds ...
    {
        ModuleSimProcess fast({"--variant", "wifi", "--mac", mac});
        QVERIFY(fast.start());
        SimPort port(fast.device_path());
        QElapsedTimer timer;
        timer.start();
        QVERIFY(port.write("AT+WSMAC\r\n"));
        QCOMPARE(port.read_exact(reply.size(), 3000), reply);
        QVERIFY2(timer.elapsed() < 400, qPrintable(QString::number(timer.elapsed())));
    }

    // ... paced at 115200 baud it takes 10 bits per byte: about 0.89 s.
    ModuleSimProcess sim({"--variant", "wifi", "--mac", mac, "--pace"});
    QVERIFY(sim.start());
    SimPort port(sim.device_path());
    QElapsedTimer timer;
    timer.start();
    QVERIFY(port.write("AT+WSMAC\r\n"));
    QCOMPARE(port.read_exact(reply.size(), 3000), reply);
    QVERIFY2(timer.elapsed() >= 800 && timer.elapsed() <= 1500, qPrintable(QString::number(timer.elapsed())));

    // Incoming: ten 1029-byte frames are taken in no faster than the wire.
    QCOMPARE(port.ask("AT+XUPDATE\r\n"), QByteArray("+ok\r\n\r\n"));
    QCOMPARE(port.read_exact(1, 1500), QByteArray("C"));
    const QByteArray image = xm::image(10 * 1024, 10);
    timer.restart();
    for (int b = 1; b <= 10; ++b) {
        QVERIFY(port.write(xm::block_1k(image, b, true)));
        QCOMPARE(port.read_exact(1, 1500), QByteArray(1, xm::ACK));
    }
    QVERIFY2(timer.elapsed() >= 800 && timer.elapsed() <= 1500, qPrintable(QString::number(timer.elapsed())));
}
