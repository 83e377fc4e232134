#include "bench/xmodem_vs_sz/pty_peer.h"

#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <chrono>
#include <poll.h>
#include <unistd.h>

PtyRelay::PtyRelay(std::vector<std::pair<int, int>> routes, int settle_ms)
    : routes(std::move(routes)), settle_ms(settle_ms), counts(this->routes.size(), std::array<quint64, 256> {})
{
    thread = std::thread([this] { run(); });
}

void PtyRelay::stop()
{
    stopping = true;
    if (thread.joinable())
        thread.join();
}

bool PtyRelay::write_all(int fd, const char *data, size_t size)
{
    while (size > 0 && !stopping) {
        const ssize_t n = ::write(fd, data, size);
        if (n > 0) {
            data += n;
            size -= size_t(n);
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        } else {
            pollfd p {fd, POLLOUT, 0};
            poll(&p, 1, 20);
        }
    }
    return size == 0;
}

void PtyRelay::run()
{
    using clock = std::chrono::steady_clock;
    std::vector<clock::time_point> last_carried(routes.size());
    std::vector<bool> gone(routes.size(), false);
    const auto settle = std::chrono::milliseconds(settle_ms);
    while (!stopping) {
        // A held route is left out of the poll; its bytes wait in the pty.
        std::vector<pollfd> fds;
        bool any_held = false;
        for (size_t i = 0; i < routes.size(); ++i) {
            bool held = false;
            for (size_t j = 0; j < routes.size(); ++j)
                held = held || (j != i && settle_ms > 0 && clock::now() < last_carried[j] + settle);
            any_held = any_held || held;
            fds.push_back({held || gone[i] ? -1 : routes[i].first, POLLIN, 0});
        }
        // Short slices: a held route is freed, and a stop seen, soon enough.
        if (poll(fds.data(), fds.size(), any_held ? 1 : 20) < 0 && errno != EINTR)
            return;
        for (size_t i = 0; i < routes.size(); ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
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
                gone[i] = true;  // that side has closed
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
    const bool normal = process.state() == QProcess::NotRunning && process.exitStatus() == QProcess::NormalExit;
    return normal ? process.exitCode() : -1;
}

QString PtyProcess::stderr_text() const
{
    QFile file(log_path);
    return file.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(file.readAll()) : QString();
}
