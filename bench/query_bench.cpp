// Times device queries through the worker against the module simulator over
// a pty: 50 Wi-Fi and 50 cellular queries, median and worst of each.
// The floor is about 25 ms a command (the reply, 3 ms of quiet, a 20 ms look
// for a further burst), plus 100 ms for the cellular INFO step.
#include "tests/support/module_sim_process.h"
#include "worker/mpthread.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <vector>

namespace {

struct Figures
{
    double median_ms;
    double worst_ms;
    int failures;
};

Figures run_queries(const char *variant, quint8 kind, int count)
{
    QStringList args {QStringLiteral("--variant"), QLatin1String(variant)};
    if (!qEnvironmentVariableIsSet("KV20_BENCH_VERBOSE"))
        args << QStringLiteral("--quiet");
    ModuleSimProcess sim(args);
    if (!sim.start()) {
        std::fprintf(stderr, "simulator did not start\n");
        std::exit(1);
    }
    MPThread worker;
    QElapsedTimer clock;
    clock.start();
    std::atomic<qint64> started {0};
    std::vector<double> times;
    int failures = 0;
    // Direct connections: the stamps are taken on the worker thread when the
    // query starts and ends, free of event-loop latency.
    QObject::connect(&worker, &MPThread::burn_show, &worker, [&](bool) { started = clock.nsecsElapsed(); },
                     Qt::DirectConnection);
    QEventLoop loop;
    QObject::connect(&worker, &MPThread::mac_done, &worker,
                     [&](bool ok) {
                         times.push_back((clock.nsecsElapsed() - started) / 1e6);
                         if (!ok)
                             ++failures;
                     },
                     Qt::DirectConnection);
    QObject::connect(&worker, &MPThread::burn_done, &loop, &QEventLoop::quit);
    QObject::connect(&worker, &MPThread::mac_done, &loop, [&](bool ok) {
        if (!ok)
            loop.quit();
    });
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, &loop, &QEventLoop::quit);
    worker.start();
    worker.__start_flash(flash_parameter(), kind);
    for (int i = 0; i < count; ++i) {
        if (!worker.open_serial_port(sim.device_path(), QString())) {
            std::fprintf(stderr, "port did not open\n");
            std::exit(1);
        }
        worker.__start_flash(flash_parameter(), 0);
        guard.start(5000);
        const int failures_before = failures;
        loop.exec();
        worker.close_serial_port();
        if (failures != failures_before && qEnvironmentVariableIsSet("KV20_BENCH_VERBOSE"))
            std::fprintf(stderr, "query %d failed; simulator log:\n%s\n", i, sim.stderr_log().right(2000).constData());
    }
    worker.stop_and_wait();
    std::sort(times.begin(), times.end());
    return {times.empty() ? 0 : times[times.size() / 2], times.empty() ? 0 : times.back(), failures};
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    const int count = 50;
    const Figures wifi = run_queries("wifi", 0x90, count);
    const Figures cellular = run_queries("cellular", 0x81, count);
    std::printf("query benchmark, %d queries each, through the worker over a pty\n", count);
    std::printf("  Wi-Fi    : median %7.1f ms  worst %7.1f ms  failures %d  (floor ~100 ms)\n", wifi.median_ms,
                wifi.worst_ms, wifi.failures);
    std::printf("  cellular : median %7.1f ms  worst %7.1f ms  failures %d  (floor ~150 ms)\n",
                cellular.median_ms, cellular.worst_ms, cellular.failures);
    return wifi.failures + cellular.failures == 0 ? 0 : 1;
}
