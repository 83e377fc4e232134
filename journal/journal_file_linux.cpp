#include "journal/journal_file.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
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

} // namespace

QString append_journal_row(const QString &path, const QByteArray &preamble, const QByteArray &row)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return system_error();
    QString error;
    // The lock keeps creation, close-off and append of one writer apart from
    // every other process's; it ends with the descriptor.
    while (flock(fd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            error = system_error();
            break;
        }
    }
    bool empty = true;
    qint64 quotes = 0;
    char last = 0;
    if (error.isEmpty() && !scan(fd, &empty, &quotes, &last))
        error = system_error();
    if (error.isEmpty()) {
        const QByteArray bytes = (empty ? preamble : journal_close_off(quotes, last)) + row;
        if (!write_all(fd, bytes) || fsync(fd) != 0) {
            // A device such as /dev/full cannot be synced; what it refused
            // to store is the reason that matters.
            error = system_error();
        }
    }
    ::close(fd);
    return error;
}
