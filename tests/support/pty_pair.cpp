#include "tests/support/pty_pair.h"

#include <QElapsedTimer>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

PtyPair::PtyPair()
{
    int slave = -1;
    char name[256] = {};
    if (openpty(&master_fd, &slave, name, nullptr, nullptr) != 0) {
        master_fd = -1;
        return;
    }
    termios tio {};
    tcgetattr(slave, &tio);
    cfmakeraw(&tio);
    tcsetattr(slave, TCSANOW, &tio);
    own_slave_fd = slave;
    path = QString::fromLocal8Bit(name);
    fcntl(master_fd, F_SETFL, fcntl(master_fd, F_GETFL) | O_NONBLOCK);
}

PtyPair::~PtyPair()
{
    hang_up();
}

void PtyPair::hang_up()
{
    if (master_fd >= 0)
        ::close(master_fd);
    if (own_slave_fd >= 0)
        ::close(own_slave_fd);
    master_fd = own_slave_fd = -1;
}

void PtyPair::write(const QByteArray &bytes)
{
    qsizetype done = 0;
    while (master_fd >= 0 && done < bytes.size()) {
        const ssize_t n = ::write(master_fd, bytes.constData() + done, bytes.size() - done);
        if (n > 0) {
            done += n;
        } else if (n < 0 && errno == EAGAIN) {
            pollfd p {master_fd, POLLOUT, 0};
            poll(&p, 1, 100);
        } else if (n < 0 && errno != EINTR) {
            return;
        }
    }
}

QByteArray PtyPair::read_for(int quiet_ms, int timeout_ms)
{
    QByteArray out;
    QElapsedTimer timer;
    timer.start();
    while (master_fd >= 0) {
        const qint64 left = timeout_ms - timer.elapsed();
        if (left <= 0)
            break;
        pollfd p {master_fd, POLLIN, 0};
        const int wait = out.isEmpty() ? int(left) : int(std::min<qint64>(left, quiet_ms));
        if (poll(&p, 1, wait) <= 0)
            break;
        char buf[4096];
        const ssize_t n = ::read(master_fd, buf, sizeof buf);
        if (n <= 0)
            break;
        out.append(buf, int(n));
    }
    return out;
}

QByteArray PtyPair::read_exact(int n, int timeout_ms)
{
    QByteArray out;
    QElapsedTimer timer;
    timer.start();
    while (master_fd >= 0 && out.size() < n) {
        const qint64 left = timeout_ms - timer.elapsed();
        if (left <= 0)
            break;
        pollfd p {master_fd, POLLIN, 0};
        if (poll(&p, 1, int(left)) <= 0)
            break;
        char buf[4096];
        const ssize_t got = ::read(master_fd, buf, std::min<size_t>(sizeof buf, size_t(n - out.size())));
        if (got <= 0)
            break;
        out.append(buf, int(got));
    }
    return out;
}
