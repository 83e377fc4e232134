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
    char name[256] = {};
    if (openpty(&master_fd, &own_slave_fd, name, nullptr, nullptr) != 0) {
        master_fd = own_slave_fd = -1;
        return;
    }
    termios tio {};
    tcgetattr(own_slave_fd, &tio);
    cfmakeraw(&tio);
    tcsetattr(own_slave_fd, TCSANOW, &tio);
    path = QString::fromLocal8Bit(name);
    fcntl(master_fd, F_SETFL, fcntl(master_fd, F_GETFL) | O_NONBLOCK);
}

void PtyPair::hang_up()
{
    for (int *fd : {&master_fd, &own_slave_fd}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
}

void PtyPair::write(const QByteArray &bytes)
{
    for (qsizetype done = 0; master_fd >= 0 && done < bytes.size();) {
        const ssize_t n = ::write(master_fd, bytes.constData() + done, size_t(bytes.size() - done));
        pollfd p {master_fd, POLLOUT, 0};
        if (n > 0)
            done += n;
        else if (errno == EAGAIN)
            poll(&p, 1, 100);
        else if (errno != EINTR)
            return;
    }
}

QByteArray PtyPair::read_for(int quiet_ms, int timeout_ms)
{
    QByteArray out;
    QElapsedTimer timer;
    timer.start();
    for (char buf[4096]; master_fd >= 0;) {
        const qint64 left = timeout_ms - timer.elapsed();
        pollfd p {master_fd, POLLIN, 0};
        if (left <= 0 || poll(&p, 1, int(out.isEmpty() ? left : std::min<qint64>(left, quiet_ms))) <= 0)
            break;
        const ssize_t got = ::read(master_fd, buf, sizeof buf);
        if (got <= 0)
            break;
        out.append(buf, int(got));
    }
    return out;
}
