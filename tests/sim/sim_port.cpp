#include "tests/sim/sim_port.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

SimPort::SimPort(const QString &path)
{
    fd_ = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0)
        return;
    termios tio {};
    if (tcgetattr(fd_, &tio) == 0) {
        cfmakeraw(&tio);
        cfsetispeed(&tio, B115200);
        cfsetospeed(&tio, B115200);
        tcsetattr(fd_, TCSANOW, &tio);
    }
}

SimPort::~SimPort()
{
    close();
}

void SimPort::close()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

bool SimPort::write(const QByteArray &bytes)
{
    qsizetype done = 0;
    while (fd_ >= 0 && done < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
        } else if (n < 0 && errno == EAGAIN) {
            pollfd p {fd_, POLLOUT, 0};
            if (poll(&p, 1, 2000) <= 0)
                return false;
        } else if (!(n < 0 && errno == EINTR)) {
            return false;
        }
    }
    return fd_ >= 0;
}

QByteArray SimPort::read_for(int quiet_ms, int timeout_ms)
{
    QByteArray out;
    QElapsedTimer timer;
    timer.start();
    while (fd_ >= 0) {
        const qint64 left = timeout_ms - timer.elapsed();
        if (left <= 0)
            break;
        pollfd p {fd_, POLLIN, 0};
        const int wait = out.isEmpty() ? int(left) : int(std::min<qint64>(left, quiet_ms));
        if (poll(&p, 1, wait) <= 0 || !(p.revents & POLLIN))
            break;
        char buf[4096];
        const ssize_t n = ::read(fd_, buf, sizeof buf);
        if (n <= 0)
            break;
        out.append(buf, int(n));
    }
    return out;
}

QByteArray SimPort::read_exact(int n, int timeout_ms)
{
    QByteArray out;
    QElapsedTimer timer;
    timer.start();
    while (fd_ >= 0 && out.size() < n) {
        const qint64 left = timeout_ms - timer.elapsed();
        if (left <= 0)
            break;
        pollfd p {fd_, POLLIN, 0};
        if (poll(&p, 1, int(left)) <= 0 || !(p.revents & POLLIN))
            break;
        char buf[4096];
        const ssize_t got = ::read(fd_, buf, std::min<size_t>(sizeof buf, size_t(n - out.size())));
        if (got <= 0)
            break;
        out.append(buf, int(got));
    }
    return out;
}

QByteArray SimPort::ask(const QByteArray &line, int timeout_ms)
{
    if (!write(line))
        return {};
    return read_for(40, timeout_ms);
}

QList<SimPort::Burst> SimPort::read_bursts(int gap_ms, int quiet_ms, int timeout_ms)
{
    QList<Burst> bursts;
    QElapsedTimer timer;
    timer.start();
    while (fd_ >= 0) {
        const qint64 left = timeout_ms - timer.elapsed();
        if (left <= 0)
            break;
        pollfd p {fd_, POLLIN, 0};
        const int wait = bursts.isEmpty() ? int(left) : int(std::min<qint64>(left, quiet_ms));
        if (poll(&p, 1, wait) <= 0 || !(p.revents & POLLIN))
            break;
        char buf[4096];
        const ssize_t n = ::read(fd_, buf, sizeof buf);
        if (n <= 0)
            break;
        const qint64 now = timer.elapsed();
        if (bursts.isEmpty() || now - bursts.last().end_ms > gap_ms)
            bursts.append({now, now, {}});
        bursts.last().end_ms = now;
        bursts.last().bytes.append(buf, int(n));
    }
    return bursts;
}

bool SimPort::wait_vanished(int timeout_ms)
{
    QElapsedTimer timer;
    timer.start();
    while (fd_ >= 0) {
        const qint64 left = timeout_ms - timer.elapsed();
        if (left <= 0)
            return false;
        pollfd p {fd_, POLLIN, 0};
        if (poll(&p, 1, int(left)) <= 0)
            return false;
        if (p.revents & (POLLHUP | POLLERR))
            return true;
        char buf[256];
        const ssize_t n = ::read(fd_, buf, sizeof buf);
        if (n == 0 || (n < 0 && errno == EIO))
            return true;
    }
    return false;
}
