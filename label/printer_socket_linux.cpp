#include "label/printer_socket.h"

#include <QElapsedTimer>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

QString system_words(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Waits until the socket is ready for `events` or the deadline passes.
bool ready(int fd, short events, qint64 deadline_ms)
{
    for (;;) {
        const qint64 left = deadline_ms - PrinterSocket::now_ms();
        if (left <= 0)
            return false;
        pollfd p {fd, events, 0};
        const int n = ::poll(&p, 1, int(left));
        if (n > 0)
            return true;
        if (n < 0 && errno != EINTR)
            return false;
    }
}

} // namespace

PrinterSocket::PrinterSocket() : socket_(-1) {}

PrinterSocket::~PrinterSocket()
{
    if (socket_ >= 0)
        ::close(int(socket_));
}

qint64 PrinterSocket::now_ms()
{
    static QElapsedTimer clock = [] { QElapsedTimer c; c.start(); return c; }();
    return clock.elapsed();
}

bool PrinterSocket::connect(const QString &host, quint16 port, qint64 deadline_ms, QString *error)
{
    addrinfo hints {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    const int looked_up = ::getaddrinfo(host.toUtf8().constData(), QByteArray::number(port).constData(), &hints, &found);
    if (looked_up != 0) {
        *error = QString::fromLocal8Bit(gai_strerror(looked_up));
        return false;
    }
    *error = QStringLiteral("no address");
    for (addrinfo *a = found; a && socket_ < 0; a = a->ai_next) {
        const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0)
            continue;
        int failure = 0;
        if (::connect(fd, a->ai_addr, a->ai_addrlen) != 0) {
            failure = errno;
            if (failure == EINPROGRESS) {
                failure = ETIMEDOUT;
                if (ready(fd, POLLOUT, deadline_ms)) {
                    socklen_t size = sizeof failure;
                    ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &failure, &size);
                }
            }
        }
        if (failure == 0) {
            socket_ = fd;
        } else {
            *error = system_words(failure);
            ::close(fd);
        }
    }
    ::freeaddrinfo(found);
    return socket_ >= 0;
}

bool PrinterSocket::send(const QByteArray &bytes, qint64 deadline_ms, QString *error)
{
    for (qint64 sent = 0; sent < bytes.size();) {
        const ssize_t n = ::send(int(socket_), bytes.constData() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL);
        if (n > 0) {
            sent += n;
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            *error = system_words(errno);
            return false;
        }
        if (!ready(int(socket_), POLLOUT, deadline_ms)) {
            *error = QStringLiteral("the printer took no more bytes");
            return false;
        }
    }
    return true;
}

QByteArray PrinterSocket::receive(const std::function<bool(const QByteArray &)> &enough, qint64 deadline_ms)
{
    QByteArray received;
    char buffer[512];
    while (!enough(received) && ready(int(socket_), POLLIN, deadline_ms)) {
        const ssize_t n = ::recv(int(socket_), buffer, sizeof buffer, 0);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))
            break;
        if (n > 0)
            received.append(buffer, int(n));
    }
    return received;
}

bool PrinterSocket::close(qint64 deadline_ms)
{
    ::shutdown(int(socket_), SHUT_WR);
    // The printer's side ends when it has the job; what it says is not read.
    char buffer[256];
    bool closed = false;
    while (!closed && ready(int(socket_), POLLIN, deadline_ms)) {
        const ssize_t n = ::recv(int(socket_), buffer, sizeof buffer, 0);
        closed = n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR);
    }
    ::close(int(socket_));
    socket_ = -1;
    return closed;
}
