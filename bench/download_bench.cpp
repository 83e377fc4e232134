// Download figures, printed, not judged:
//  1. a paced 1 MiB audio replacement through the real window against the
//     simulator on a 115200 8N1 line: payload bytes per second against the
//     line's limit for XMODEM-1K with CRC (11520 B/s x 1024/1029), and the
//     longest stall of the window's event loop meanwhile;
//  2. peak memory of an unpaced 16 MiB download through the worker.
// Exits 1 when a download failed, the module did not receive the image byte
// for byte, or the window's journal lacks the record.
//
//   kv20-bench-download [--memory-only] [--smoke]   (--smoke: 32 KiB paced, 1 MiB unpaced)
#include "app/dialog.h"
#include "tests/support/module_sim_process.h"
#include "worker/mpthread.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLoggingCategory>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>

#include <atomic>
#include <cstdio>

namespace {

QByteArray random_image(int size)
{
    QByteArray image(size, Qt::Uninitialized);
    QRandomGenerator rng {quint32(size)};
    for (char &c : image)
        c = char(rng.bounded(256));
    image[size - 1] = 'E';  // the simulator strips trailing padding
    return image;
}

bool write_file(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray read_file(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

long peak_rss_kib()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

int paced_through_window(const QString &base, int size)
{
    const QByteArray image = random_image(size);
    QDir(base).mkpath(QStringLiteral("work"));
    QDir(base).mkpath(QStringLiteral("sysfs"));
    const QString work = base + QStringLiteral("/work");
    write_file(work + QStringLiteral("/sound.img"), image);
    write_file(work + QStringLiteral("/config.ini"),
               "[General]\nfs.img_path=" + (work + QStringLiteral("/sound.img")).toUtf8() + "\n");

    const QString received = base + QStringLiteral("/received.img");
    ModuleSimProcess sim({QStringLiteral("--variant=cellular"), QStringLiteral("--pace"), QStringLiteral("--quiet"),
                          QStringLiteral("--strip-padding"), QStringLiteral("--device-tree=") + base + "/sysfs",
                          QStringLiteral("--save-image=") + received});
    if (!sim.start()) {
        std::fprintf(stderr, "simulator did not start\n");
        return 1;
    }
    qputenv("KV20_SYSFS_ROOT", (base + QStringLiteral("/sysfs")).toLocal8Bit());
    QDir::setCurrent(work);

    Dialog dialog;
    auto *worker = dialog.findChild<MPThread *>();
    QElapsedTimer clock;
    clock.start();
    std::atomic<qint64> started {0}, finished {0};
    QObject::connect(worker, &MPThread::ui_set_progress_max, worker, [&](int) { started = clock.nsecsElapsed(); },
                     Qt::DirectConnection);
    QObject::connect(worker, &MPThread::ui_debug, worker,
                     [&](const QString &line) {
                         if (line == QStringLiteral("xmodem transfer OK"))
                             finished = clock.nsecsElapsed();
                     },
                     Qt::DirectConnection);
    bool ok = false;
    QEventLoop loop;
    QObject::connect(worker, &MPThread::burn_done, &loop, [&](bool done) {
        ok = done;
        loop.quit();
    });
    QObject::connect(worker, &MPThread::mac_done, &loop, [&](bool found) {
        if (!found)
            loop.quit();
    });

    // The window's event loop is sampled every 5 ms; the longest gap is the
    // longest time the operator would have found the window frozen.
    qint64 last_tick = clock.elapsed(), longest_gap = 0, longest_gap_at = 0, clicked_at = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        if (now - last_tick > longest_gap) {
            longest_gap = now - last_tick;
            longest_gap_at = now;
        }
        last_tick = now;
    });
    QTimer::singleShot(0, &dialog, [&] {
        last_tick = clock.elapsed();
        ticker.start(5);
        clicked_at = clock.elapsed();
        QMetaObject::invokeMethod(&dialog, "on_burn_clicked");
    });
    QTimer::singleShot(300000, &loop, &QEventLoop::quit);
    loop.exec();
    ticker.stop();

    const double seconds = (finished - started) / 1e9;
    const double rate = size / seconds;
    const double limit = 11520.0 * 1024.0 / 1029.0;
    const bool intact = read_file(received) == image;
    std::printf("paced %d KiB audio replacement through the window (115200 8N1 simulated line)\n", size / 1024);
    std::printf("  outcome            : %s, image %s\n", ok ? "burn_done(true)" : "FAILED",
                intact ? "received byte for byte" : "NOT intact");
    std::printf("  transfer time      : %.2f s\n", seconds);
    std::printf("  payload rate       : %.0f B/s = %.1f %% of the XMODEM-1K CRC limit (%.0f B/s)\n", rate,
                100.0 * rate / limit, limit);
    std::printf("  longest event-loop stall of the window during the operation: %lld ms, %.2f s after the click "
                "(transfer from %.2f s to %.2f s)\n",
                longest_gap, (longest_gap_at - clicked_at) / 1000.0, started / 1e9 - clicked_at / 1000.0,
                finished / 1e9 - clicked_at / 1000.0);
    // The window keeps a journal record of the operation on the worker
    // thread; the stall above includes it.
    const QByteArray journal = read_file(work + QStringLiteral("/kv20-journal.csv"));
    const bool recorded = journal.count("\r\n") == 2 && journal.contains(",ok,,");
    std::printf("  journal            : %s\n", recorded ? "on, the operation's record written" : "NO RECORD");
    return ok && intact && recorded ? 0 : 1;
}

int memory_of_large_image(const QString &base, int size)
{
    const QString path = base + QStringLiteral("/large.img");
    const QString received = base + QStringLiteral("/large-received.img");
    if (!write_file(path, random_image(size)))
        return 1;
    ModuleSimProcess sim({QStringLiteral("--variant=cellular"), QStringLiteral("--quiet"),
                          QStringLiteral("--strip-padding"), QStringLiteral("--save-image=") + received});
    if (!sim.start())
        return 1;
    MPThread worker;
    worker.start();
    worker.__start_flash(flash_parameter(), 0x81);
    if (!worker.open_serial_port(sim.device_path(), QString()))
        return 1;
    // Forget the peak of writing the test image: from here on the peak is
    // the download's alone.
    QFile clear_refs(QStringLiteral("/proc/self/clear_refs"));
    if (clear_refs.open(QIODevice::WriteOnly))
        clear_refs.write("5");
    clear_refs.close();
    const long before = peak_rss_kib();
    bool ok = false;
    QEventLoop loop;
    QObject::connect(&worker, &MPThread::burn_done, &loop, [&](bool done) {
        ok = done;
        loop.quit();
    });
    QElapsedTimer timer;
    timer.start();
    flash_parameter request;
    request.fw_path = path;
    worker.__start_flash(request, 2);
    QTimer::singleShot(600000, &loop, &QEventLoop::quit);
    loop.exec();
    const long after = peak_rss_kib();
    worker.stop_and_wait();
    // Past the peak: the image made again to compare with what the module saved.
    const bool intact = read_file(received) == random_image(size);
    const double mib = size / 1048576.0;
    std::printf("unpaced %.0f MiB firmware download through the worker (pty)\n", mib);
    std::printf("  outcome            : %s in %.1f s, image %s\n", ok ? "burn_done(true)" : "FAILED",
                timer.elapsed() / 1000.0, intact ? "received byte for byte" : "NOT intact");
    std::printf("  peak RSS           : %.1f MiB before, %.1f MiB after: +%.1f MiB for a %.0f MiB image "
                "(+%.1f MiB beyond the image)\n",
                before / 1024.0, after / 1024.0, (after - before) / 1024.0, mib, (after - before) / 1024.0 - mib);
    return ok && intact ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    const QStringList args = app.arguments().mid(1);
    const bool smoke = args.contains(QStringLiteral("--smoke"));
    if (args.size() != int(smoke) + int(args.contains(QStringLiteral("--memory-only")))) {
        std::fprintf(stderr, "usage: kv20-bench-download [--memory-only] [--smoke]\n");
        return 2;
    }
    QTemporaryDir dir;
    int failures = 0;
    if (!args.contains(QStringLiteral("--memory-only")))
        failures += paced_through_window(dir.path(), (smoke ? 32 : 1024) * 1024);
    failures += memory_of_large_image(dir.path(), (smoke ? 1 : 16) * 1024 * 1024);
    return failures == 0 ? 0 : 1;
}
