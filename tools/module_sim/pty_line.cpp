#include "tools/module_sim/pty_line.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

PtyLine::~PtyLine()
{
    close();
}

bool PtyLine::open(QString &error)
{
    int master = -1;
    int slave = -1;
    char name[256] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        error = QStringLiteral("cannot create a pseudo-terminal: %1").arg(QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    termios tio {};
    if (tcgetattr(slave, &tio) == 0) {
        cfmakeraw(&tio);
        cfsetispeed(&tio, B115200);
        cfsetospeed(&tio, B115200);
        tcsetattr(slave, TCSANOW, &tio);
    }
    fcntl(master, F_SETFD, FD_CLOEXEC);
    fcntl(slave, F_SETFD, FD_CLOEXEC);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    master_ = master;
    own_slave_ = slave;
    slave_path_ = QString::fromLocal8Bit(name);
    return true;
}

void PtyLine::set_pace(int baud, SimTime now)
{
    if (baud <= 0) {
        in_ = TokenBucket();
        out_ = TokenBucket();
        return;
    }
    const double bytes_per_second = baud / 10.0;
    // About 2 ms worth of bytes: small enough that a quiet line cannot
    // later burst noticeably faster than the wire.
    const qint64 capacity = std::max<qint64>(1, qint64(bytes_per_second / 500));
    in_ = TokenBucket(bytes_per_second, capacity, now);
    out_ = TokenBucket(bytes_per_second, capacity, now);
}

void PtyLine::close()
{
    if (master_ >= 0)
        ::close(master_);
    if (own_slave_ >= 0)
        ::close(own_slave_);
    master_ = own_slave_ = -1;
}

void PtyLine::set_openable(bool openable)
{
    int locked = openable ? 0 : 1;
    if (master_ >= 0)
        ioctl(master_, TIOCSPTLCK, &locked);
}

void PtyLine::discard_pending()
{
    if (master_ >= 0)
        tcflush(master_, TCIOFLUSH);
    if (own_slave_ >= 0)
        tcflush(own_slave_, TCIOFLUSH);
}

int PtyLine::pty_number() const
{
    const QString prefix = QStringLiteral("/dev/pts/");
    if (!slave_path_.startsWith(prefix))
        return -1;
    bool ok = false;
    const int n = slave_path_.mid(prefix.size()).toInt(&ok);
    return ok ? n : -1;
}

bool PtyLine::read_allowed(SimTime now)
{
    return in_.available(now) > 0;
}

SimClock::duration PtyLine::read_wait(SimTime now)
{
    // Wait for room for what is already queued (up to the bucket size)
    // rather than for a single byte, so a busy paced line costs a wakeup per
    // couple of milliseconds, not per byte.
    int queued = 1;
    if (master_ >= 0 && ioctl(master_, FIONREAD, &queued) != 0)
        queued = 1;
    return in_.time_until(std::max(1, queued), now);
}

QByteArray PtyLine::read(SimTime now, bool &failed)
{
    failed = false;
    if (master_ < 0) {
        failed = true;
        return {};
    }
    char buf[4096];
    const qint64 room = std::min<qint64>(qint64(sizeof buf), in_.available(now));
    if (room <= 0)
        return {};
    for (;;) {
        const ssize_t n = ::read(master_, buf, size_t(room));
        if (n > 0) {
            in_.take(n);
            return QByteArray(buf, int(n));
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN)
            return {};
        failed = true;
        return {};
    }
}

qint64 PtyLine::write(const char *data, qint64 size, SimTime now)
{
    write_blocked_ = false;
    if (master_ < 0)
        return -1;
    const qint64 room = std::min(size, out_.available(now));
    if (room <= 0)
        return 0;
    for (;;) {
        const ssize_t n = ::write(master_, data, size_t(room));
        if (n >= 0) {
            out_.take(n);
            return n;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN) {
            write_blocked_ = true;
            return 0;
        }
        return -1;
    }
}

int PtyLine::unread_by_tool() const
{
    int queued = 0;
    if (own_slave_ < 0 || ioctl(own_slave_, FIONREAD, &queued) != 0)
        return 0;
    return queued;
}

SimClock::duration PtyLine::write_wait(qint64 size, SimTime now)
{
    return out_.time_until(std::max<qint64>(1, size), now);
}
