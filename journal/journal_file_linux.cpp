#include "journal/journal_file.h"

#include <QElapsedTimer>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace {

QString system_error()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

bool read_at(int fd, char *buffer, size_t size, off_t offset, ssize_t *got)
{
    do
        *got = pread(fd, buffer, size, offset);
    while (*got < 0 && errno == EINTR);
    return *got >= 0;
}

// What closes off a record a crash cut short, judged from the file's end;
// only a journal whose end shows no record start is read whole. Anything but
// a regular file (a device standing in for the journal) counts as empty:
// reading /dev/full, say, would never end.
bool scan(int fd, bool *empty, QByteArray *close_off)
{
    struct stat status {};
    if (fstat(fd, &status) != 0)
        return false;
    *empty = !S_ISREG(status.st_mode) || status.st_size == 0;
    if (*empty)
        return true;
    QByteArray tail(int(qMin<off_t>(status.st_size, journal_tail_bytes)), Qt::Uninitialized);
    ssize_t got = 0;
    if (!read_at(fd, tail.data(), size_t(tail.size()), status.st_size - tail.size(), &got))
        return false;
    tail.truncate(int(got));
    if (const std::optional<QByteArray> judged = journal_tail_close_off(tail, tail.size() == status.st_size)) {
        *close_off = *judged;
        return true;
    }
    char buffer[65536];
    qint64 quotes = 0;
    for (off_t offset = 0; offset < status.st_size; offset += got) {
        if (!read_at(fd, buffer, sizeof buffer, offset, &got))
            return false;
        if (got == 0)
            break;
        quotes += std::count(buffer, buffer + got, '"');
    }
    *close_off = journal_close_off(quotes, tail.isEmpty() ? 0 : tail.at(tail.size() - 1));
    return true;
}

bool write_all(int fd, const QByteArray &bytes)
{
    const char *data = bytes.constData();
    qint64 left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, static_cast<size_t>(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        left -= n;
    }
    return true;
}

// Takes the exclusive lock, retrying the non-blocking form until the
// deadline: a blocking flock() could wait for ever behind another program.
bool lock_before(int fd, const QElapsedTimer &clock, int lock_wait_ms, QString *error)
{
    for (;;) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0)
            return true;
        if (errno == EINTR)
            continue;
        if (errno != EWOULDBLOCK) {
            *error = system_error();
            return false;
        }
        if (clock.elapsed() >= lock_wait_ms) {
            *error = QStringLiteral("locked by another program for %1 ms").arg(clock.elapsed());
            return false;
        }
        const struct timespec pause {0, 10 * 1000 * 1000};
        nanosleep(&pause, nullptr);
    }
}

} // namespace

QString append_journal_row(const QString &path, const QByteArray &preamble, const QByteArray &row, int lock_wait_ms)
{
    QElapsedTimer clock;
    clock.start();
    // Non-blocking: a FIFO standing where the journal should be would
    // otherwise stop the write when its buffer fills.
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0644);
    if (fd < 0)
        return system_error();
    QString error;
    // The lock keeps creation, close-off and append of one writer apart from
    // every other process's; it ends with the descriptor.
    lock_before(fd, clock, lock_wait_ms, &error);
    bool empty = true;
    QByteArray close_off;
    struct stat before {};
    if (error.isEmpty() && (fstat(fd, &before) != 0 || !scan(fd, &empty, &close_off)))
        error = system_error();
    if (error.isEmpty()) {
        const QByteArray bytes = (empty ? preamble : close_off) + row;
        if (!write_all(fd, bytes) || fsync(fd) != 0) {
            // A device such as /dev/full cannot be synced; what it refused
            // to store is the reason that matters.
            error = system_error();
            if (S_ISREG(before.st_mode) && ftruncate(fd, before.st_size) == 0)
                fsync(fd);
        }
    }
    ::close(fd);
    return error;
}
