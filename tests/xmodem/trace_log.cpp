#include "tests/xmodem/trace_log.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>

#include <algorithm>
#include <cstdlib>

namespace trace_log {
namespace {

std::mutex mutex;
std::condition_variable changed;
QStringList captured;
QtMessageHandler previous = nullptr;

void handler(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type != QtDebugMsg) {
        // Warnings and worse are never expected; keep them visible.
        std::fprintf(stderr, "%s\n", qPrintable(message));
        if (type == QtFatalMsg)
            abort();
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        captured.append(message);
    }
    changed.notify_all();
}

} // namespace

void install()
{
    previous = qInstallMessageHandler(handler);
}

void uninstall()
{
    qInstallMessageHandler(previous);
}

void clear()
{
    std::lock_guard<std::mutex> lock(mutex);
    captured.clear();
}

QStringList lines()
{
    std::lock_guard<std::mutex> lock(mutex);
    return captured;
}

int count(const QString &line)
{
    std::lock_guard<std::mutex> lock(mutex);
    return captured.count(line);
}

QStringList starting_with(const QString &prefix)
{
    std::lock_guard<std::mutex> lock(mutex);
    QStringList out;
    for (const QString &l : captured)
        if (l.startsWith(prefix))
            out.append(l);
    return out;
}

bool wait_for(const QString &line, int occurrence, int timeout_ms)
{
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                            [&] { return captured.count(line) >= occurrence; });
}

void dump_tail(int last)
{
    const QStringList all = lines();
    std::fprintf(stderr, "--- last %d trace lines ---\n", last);
    for (int i = std::max(0, int(all.size()) - last); i < all.size(); ++i)
        std::fprintf(stderr, "%s\n", qPrintable(all.at(i)));
}

} // namespace trace_log
