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
    // 10 bits a byte: start, 8 data, stop.
    in_rate_ = out_rate_ = baud > 0 ? baud / 10.0 : 0;
    in_free_at_ = out_free_at_ = now;
    out_due_.reset();
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
    arriving_.clear();
    arriving_bytes_ = 0;
    out_due_.reset();
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

void PtyLine::pull(SimTime now, bool &failed)
{
    failed = master_ < 0;
    char buf[4096];
    while (!failed && wants_input()) {
        const ssize_t n = ::read(master_, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN)
            return;
        if (n <= 0) {
            failed = true;
            return;
        }
        SimTime at = now;
        if (in_rate_ > 0) {
            // A wire gone quiet starts again with the byte just noticed; a
            // busy one carries this piece after the last.
            const SimTime start = in_free_at_ > now ? in_free_at_ : now - wire_time(in_rate_, 1);
            at = in_free_at_ = start + wire_time(in_rate_, n);
        }
        arriving_.push_back({at, QByteArray(buf, int(n))});
        arriving_bytes_ += n;
    }
}

QByteArray PtyLine::take_arrived(SimTime now)
{
    QByteArray bytes;
    while (!arriving_.empty() && arriving_.front().at <= now) {
        bytes += arriving_.front().bytes;
        arriving_bytes_ -= arriving_.front().bytes.size();
        arriving_.pop_front();
    }
    return bytes;
}

std::optional<SimTime> PtyLine::next_arrival() const
{
    if (arriving_.empty())
        return std::nullopt;
    return arriving_.front().at;
}

namespace {

// A reply the module writes at once arrives whole, as in one USB packet;
// longer output streams on in pieces short enough that it never pauses as
// long as a reader's end-of-reply silence (3 ms).
qint64 piece_of(qint64 size)
{
    return size <= 64 ? size : 16;
}

} // namespace

SimClock::duration PtyLine::wire_time(double rate, qint64 bytes)
{
    return std::chrono::duration_cast<SimClock::duration>(std::chrono::duration<double>(double(bytes) / rate));
}

qint64 PtyLine::write(const char *data, qint64 size, SimTime now)
{
    write_blocked_ = false;
    if (master_ < 0)
        return -1;
    const qint64 piece = piece_of(size);
    if (out_rate_ > 0) {
        if (!out_due_)
            out_due_ = std::max(out_free_at_, now) + wire_time(out_rate_, piece);
        if (now < *out_due_)
            return 0;
    }
    for (;;) {
        const ssize_t n = ::write(master_, data, size_t(piece));
        if (n >= 0) {
            if (out_due_)
                out_free_at_ = *out_due_;
            out_due_.reset();
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
    if (out_rate_ <= 0)
        return SimClock::duration::zero();
    const SimTime due = out_due_ ? *out_due_ : std::max(out_free_at_, now) + wire_time(out_rate_, piece_of(size));
    return std::max(SimClock::duration::zero(), due - now);
}
