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

// Exactly `size` bytes at `offset`: pread may return fewer than asked (a
// signal, a network file system), which is not the file's end.
bool read_exact(int fd, qint64 offset, char *buffer, qint64 size)
{
    while (size > 0) {
        const ssize_t got = pread(fd, buffer, size_t(size), off_t(offset));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            if (got == 0)
                errno = EIO;  // the file ended early: someone cut it without the lock
            return false;
        }
        buffer += got;
        offset += got;
        size -= got;
    }
    return true;
}

// What goes in front of the record. Anything but a regular file (a device
// standing in for the journal) counts as empty: reading /dev/full, say,
// would never end.
bool judge_lead_in(int fd, const struct stat &status, const QByteArray &preamble, QByteArray *lead_in)
{
    if (!S_ISREG(status.st_mode)) {
        *lead_in = preamble;
        return true;
    }
    return journal_lead_in(
        status.st_size, [fd](qint64 offset, char *buffer, qint64 size) { return read_exact(fd, offset, buffer, size); },
        preamble, lead_in);
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

namespace {

// Sets the file aside when it is an outdated journal: only while `fd` is
// still the file at `path`, since another writer may have set it aside
// between our open and our lock. True when the caller is to open `path`
// afresh.
bool set_aside_if_outdated(int fd, const QString &path, const struct stat &status, const QByteArray &preamble,
                           QString *error)
{
    bool outdated = false;
    if (!S_ISREG(status.st_mode) || status.st_size == 0)
        return false;
    if (!journal_outdated(
            status.st_size, [fd](qint64 offset, char *buffer, qint64 size) { return read_exact(fd, offset, buffer, size); },
            preamble, &outdated)) {
        *error = system_error();
        return false;
    }
    if (!outdated)
        return false;
    struct stat now {};
    const QByteArray name = QFile::encodeName(path);
    if (::stat(name.constData(), &now) != 0 || now.st_ino != status.st_ino || now.st_dev != status.st_dev)
        return true;
    if (::rename(name.constData(), QFile::encodeName(older_journal_path(path)).constData()) != 0) {
        *error = QStringLiteral("an older journal cannot be set aside: ") + system_error();
        return false;
    }
    return true;
}

} // namespace

QString append_journal_row(const QString &path, const QByteArray &preamble, const QByteArray &row, int lock_wait_ms)
{
    QElapsedTimer clock;
    clock.start();
    for (int attempt = 0;; ++attempt) {
        // Non-blocking: a FIFO standing where the journal should be would
        // otherwise stop the write when its buffer fills.
        const int fd = ::open(QFile::encodeName(path).constData(),
                              O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0644);
        if (fd < 0)
            return system_error();
        QString error;
        // The lock keeps creation, close-off, setting aside and append of one
        // writer apart from every other process's; it ends with the
        // descriptor.
        lock_before(fd, clock, lock_wait_ms, &error);
        QByteArray lead_in;
        struct stat before {};
        if (error.isEmpty() && fstat(fd, &before) != 0)
            error = system_error();
        if (error.isEmpty() && set_aside_if_outdated(fd, path, before, preamble, &error)) {
            ::close(fd);
            if (attempt < 3)
                continue;
            return QStringLiteral("the journal keeps being replaced");
        }
        if (error.isEmpty() && !judge_lead_in(fd, before, preamble, &lead_in))
            error = system_error();
        if (error.isEmpty()) {
            const QByteArray bytes = lead_in + row;
            if (!write_all(fd, bytes) || fsync(fd) != 0) {
                // A device such as /dev/full cannot be synced; what it
                // refused to store is the reason that matters.
                error = system_error();
                if (S_ISREG(before.st_mode) && ftruncate(fd, before.st_size) == 0)
                    fsync(fd);
            }
        }
        ::close(fd);
        return error;
    }
}
