#include "journal/journal_file.h"

#include <QElapsedTimer>
#include <QFile>

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

// Counts the quotes of a regular file and reads its last byte. Anything else
// (a device standing in for the file) counts as empty: reading /dev/full, say,
// would never end.
bool scan(int fd, bool *empty, qint64 *quotes, char *last)
{
    struct stat status {};
    if (fstat(fd, &status) != 0)
        return false;
    *quotes = 0;
    *last = 0;
    *empty = !S_ISREG(status.st_mode) || status.st_size == 0;
    if (*empty)
        return true;
    char buffer[65536];
    off_t offset = 0;
    while (offset < status.st_size) {
        const ssize_t n = pread(fd, buffer, sizeof buffer, offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            break;
        for (ssize_t i = 0; i < n; ++i)
            *quotes += buffer[i] == '"';
        *last = buffer[n - 1];
        offset += n;
    }
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
    qint64 quotes = 0;
    char last = 0;
    struct stat before {};
    if (error.isEmpty() && (fstat(fd, &before) != 0 || !scan(fd, &empty, &quotes, &last)))
        error = system_error();
    if (error.isEmpty()) {
        const QByteArray bytes = (empty ? preamble : journal_close_off(quotes, last)) + row;
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
