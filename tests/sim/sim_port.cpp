#include "tests/sim/sim_port.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

SimPort::SimPort(const QString &path)
{
    fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios tio {};
    if (fd >= 0 && tcgetattr(fd, &tio) == 0) {
        cfmakeraw(&tio);
        cfsetspeed(&tio, B115200);
        tcsetattr(fd, TCSANOW, &tio);
    }
}

SimPort::~SimPort()
{
    if (fd >= 0)
        ::close(fd);
}

bool SimPort::write(const QByteArray &bytes)
{
    for (qsizetype done = 0; fd >= 0 && done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        pollfd p {fd, POLLOUT, 0};
        if (n > 0)
            done += n;
        else if (!(n < 0 && (errno == EINTR || (errno == EAGAIN && poll(&p, 1, 2000) > 0))))
            return false;
    }
    return fd >= 0;
}

QList<SimPort::Burst> SimPort::read_bursts(int gap_ms, int quiet_ms, int timeout_ms, int limit)
{
    QList<Burst> bursts;
    int got = 0;
    QElapsedTimer timer;
    timer.start();
    while (fd >= 0 && got < limit) {
        const qint64 left = timeout_ms - timer.elapsed();
        pollfd p {fd, POLLIN, 0};
        if (left <= 0 || poll(&p, 1, int(bursts.isEmpty() ? left : std::min<qint64>(left, quiet_ms))) <= 0
            || !(p.revents & POLLIN))
            break;
        char buf[4096];
        const ssize_t n = ::read(fd, buf, std::min<size_t>(sizeof buf, size_t(limit - got)));
        if (n <= 0)
            break;
        const qint64 now = timer.elapsed();
        if (bursts.isEmpty() || now - bursts.last().end_ms > gap_ms)
            bursts.append({now, now, {}});
        bursts.last().end_ms = now;
        bursts.last().bytes.append(buf, int(n));
        got += int(n);
    }
    return bursts;
}

QByteArray SimPort::joined(const QList<Burst> &bursts)
{
    QByteArray out;
    for (const Burst &b : bursts)
        out += b.bytes;
    return out;
}

bool SimPort::wait_vanished(int timeout_ms)
{
    QElapsedTimer timer;
    timer.start();
    while (fd >= 0) {
        const qint64 left = timeout_ms - timer.elapsed();
        pollfd p {fd, POLLIN, 0};
        if (left <= 0 || poll(&p, 1, int(left)) <= 0)
            return false;
        if (p.revents & (POLLHUP | POLLERR))
            return true;
        char buf[256];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n == 0 || (n < 0 && errno == EIO))
            return true;
    }
    return false;
}
