#include "tests/xmodem/pty_peer.h"

#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

PtyRelay::PtyRelay(std::vector<std::pair<int, int>> routes, int settle_ms)
    : routes(std::move(routes)), settle_ms(settle_ms), counts(this->routes.size(), std::array<quint64, 256> {})
{
    if (pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0)
        wake[0] = wake[1] = -1;
    thread = std::thread([this] { run(); });
}

PtyRelay::~PtyRelay()
{
    stop();
    for (int fd : wake)
        if (fd >= 0)
            ::close(fd);
}

void PtyRelay::stop()
{
    if (!thread.joinable())
        return;
    const char byte = 0;
    if (::write(wake[1], &byte, 1) < 0) {
        // The pipe is empty and non-blocking: a failed write cannot happen
        // in practice, and the join below would then hang visibly.
    }
    thread.join();
}

bool PtyRelay::write_all(int fd, const char *data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n > 0) {
            data += n;
            size -= size_t(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        pollfd p[2] = {{fd, POLLOUT, 0}, {wake[0], POLLIN, 0}};
        if (poll(p, 2, -1) > 0 && (p[1].revents & POLLIN))
            return false;
    }
    return true;
}

void PtyRelay::run()
{
    using clock = std::chrono::steady_clock;
    std::vector<pollfd> fds;
    for (const auto &route : routes)
        fds.push_back({route.first, POLLIN, 0});
    fds.push_back({wake[0], POLLIN, 0});
    std::vector<clock::time_point> last_carried(routes.size(), clock::time_point::min());
    const clock::duration settle = std::chrono::milliseconds(settle_ms);

    for (;;) {
        // A held route is left out of the poll; its bytes stay in the pty.
        int timeout_ms = -1;
        const clock::time_point now = clock::now();
        for (size_t i = 0; i < routes.size(); ++i) {
            clock::time_point free_at = clock::time_point::min();
            for (size_t j = 0; j < routes.size(); ++j)
                if (j != i && settle_ms > 0 && last_carried[j] != clock::time_point::min())
                    free_at = std::max(free_at, last_carried[j] + settle);
            const bool held = now < free_at;
            fds[i].events = held ? 0 : POLLIN;
            if (held) {
                const auto wait = std::chrono::ceil<std::chrono::milliseconds>(free_at - now).count();
                timeout_ms = timeout_ms < 0 ? int(wait) : std::min(timeout_ms, int(wait));
            }
        }
        if (poll(fds.data(), fds.size(), timeout_ms) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds.back().revents & POLLIN)
            return;
        for (size_t i = 0; i < routes.size(); ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            char buf[4096];
            const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                for (ssize_t k = 0; k < n; ++k)
                    ++counts[i][static_cast<unsigned char>(buf[k])];
                if (!write_all(routes[i].second, buf, size_t(n)))
                    return;
                last_carried[i] = clock::now();
            } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                fds[i].fd = -1;  // that side is gone; poll ignores it from now on
            }
        }
    }
}

PtyProcess::~PtyProcess()
{
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(5000);
    }
}

QString PtyProcess::find(const QString &name)
{
    return QStandardPaths::findExecutable(name);
}

bool PtyProcess::start(const QString &program, const QStringList &args, const QString &dir)
{
    if (!in.ok() || !out.ok())
        return false;
    log_path = dir + QLatin1Char('/') + QFileInfo(program).fileName() + QStringLiteral(".stderr");
    process.setWorkingDirectory(dir);
    process.setStandardInputFile(in.slave_path());
    process.setStandardOutputFile(out.slave_path());
    process.setStandardErrorFile(log_path);
    process.start(program, args);
    return process.waitForStarted(5000);
}

bool PtyProcess::wait_finished(int timeout_ms)
{
    return process.state() == QProcess::NotRunning || process.waitForFinished(timeout_ms);
}

int PtyProcess::exit_code() const
{
    if (process.state() != QProcess::NotRunning || process.exitStatus() != QProcess::NormalExit)
        return -1;
    return process.exitCode();
}

QString PtyProcess::stderr_text() const
{
    QFile file(log_path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromLocal8Bit(file.readAll());
}
