// Consecutive operations through the real window against the simulator:
// queries and downloads alternating, a fault now and then. Prints every
// outcome that is wrong, and the growth of memory and open descriptors.
// Exits non-zero on a wrong outcome, a serial port left open, or growth
// beyond a small bound.
#include "bench/fault_matrix/window_operator.h"
#include "worker/mpthread.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>

#include <cstdio>

namespace {

long rss_kib()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

struct Descriptors
{
    int all = 0;
    int serial = 0;  // open pseudo-terminals: serial ports the tool holds
};

Descriptors descriptors()
{
    Descriptors d;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QFileInfo &fd : fds.entryInfoList(QDir::Files | QDir::System | QDir::NoDotAndDotDot)) {
        ++d.all;
        if (fd.symLinkTarget().startsWith(QStringLiteral("/dev/pts/")))
            ++d.serial;
    }
    return d;
}

struct Step
{
    const WindowOperator::Operation *op;
    QStringList faults;
    QString status;
};

Step step(int i)
{
    using W = WindowOperator;
    const W::Operation *ops[] = {&W::cellular_query, &W::audio_replacement, &W::wifi_query, &W::firmware_upgrade};
    const W::Operation *op = ops[i % 4];
    // Every seventh operation meets a misbehaving module.
    if (i % 7 == 6) {
        switch ((i / 7) % 3) {
        case 0:
            return {op, {"--no-reply"}, QStringLiteral("设备信息获取失败")};
        case 1:
            return {op, {"--garbage-instead=8"}, QStringLiteral("设备信息获取失败")};
        default:
            if (op->download)
                return {op, {"--nak-block=2", "--nak-times=5"}, QStringLiteral("下载失败")};
            return {op, {"--no-marker"}, QStringLiteral("设备信息获取失败")};
        }
    }
    return {op, {}, W::success_status(*op)};
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    int operations = 200;
    const QStringList args = app.arguments();
    const int at = args.indexOf(QStringLiteral("--operations"));
    if (at >= 0 && at + 1 < args.size())
        operations = args.at(at + 1).toInt();

    WindowOperator window(20000);
    if (!window.ok()) {
        std::printf("the window could not be set up\n");
        return 1;
    }
    const int warm_up = std::min(8, operations / 2);
    long rss_start = 0;
    Descriptors fds_start;
    int wrong = 0, left_open = 0;
    qint64 longest = 0;
    for (int i = 0; i < operations; ++i) {
        if (i == warm_up) {
            rss_start = rss_kib();
            fds_start = descriptors();
        }
        const Step s = step(i);
        const WindowOperator::Outcome outcome = window.run(*s.op, s.faults, 20000);
        longest = std::max(longest, outcome.elapsed_ms);
        const bool right = outcome.started && outcome.status == s.status && outcome.controls_enabled
                           && outcome.port_closed;
        if (!right) {
            ++wrong;
            std::printf("operation %d (%s %s): got \"%s\", expected \"%s\"%s%s\n", i, s.op->name,
                        qPrintable(s.faults.join(' ')), qPrintable(outcome.status), qPrintable(s.status),
                        outcome.controls_enabled ? "" : ", controls disabled",
                        outcome.port_closed ? "" : ", port not closed");
        }
        if (descriptors().serial != 0)
            ++left_open;
    }
    const long rss_end = rss_kib();
    const Descriptors fds_end = descriptors();
    const double rss_growth_mib = (rss_end - rss_start) / 1024.0;
    const int fd_growth = fds_end.all - fds_start.all;
    std::printf("soak: %d operations through the window, %d wrong outcomes, %d left a serial port open\n",
                operations, wrong, left_open);
    std::printf("  longest operation %lld ms\n", longest);
    // The window never takes finished operations from its worker: none may pile up there.
    MPThread *worker = window.window().findChild<MPThread *>();
    std::printf("  finished operations the worker keeps: %d\n", worker ? worker->finished_operations_waiting() : -1);
    std::printf("  resident memory after %d operations %.1f MiB, at the end %.1f MiB: growth %.2f MiB\n", warm_up,
                rss_start / 1024.0, rss_end / 1024.0, rss_growth_mib);
    std::printf("  open descriptors after %d operations %d, at the end %d: growth %d\n", warm_up, fds_start.all,
                fds_end.all, fd_growth);
#if defined(__SANITIZE_ADDRESS__)
    // AddressSanitizer holds freed memory in quarantine: resident memory
    // grows by design and says nothing about the tool.
    const bool memory_judged = false;
#else
    const bool memory_judged = true;
#endif
    const bool grew = (memory_judged && rss_growth_mib > 8.0) || fd_growth > 2;
    std::printf("%d passed, %d failed\n", operations - wrong, wrong);
    return wrong == 0 && left_open == 0 && !grew ? 0 : 1;
}
