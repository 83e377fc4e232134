#include "label/printer_socket.h"

#include <QElapsedTimer>

#include <winsock2.h>
#include <ws2tcpip.h>

namespace {

QString system_words(int error)
{
    wchar_t *text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                   DWORD(error), 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    const QString words = text ? QString::fromWCharArray(text).trimmed() : QStringLiteral("error %1").arg(error);
    LocalFree(text);
    return words;
}

bool ready(SOCKET s, short events, qint64 deadline_ms)
{
    const qint64 left = deadline_ms - PrinterSocket::now_ms();
    if (left <= 0)
        return false;
    WSAPOLLFD p {s, events, 0};
    return WSAPoll(&p, 1, int(left)) > 0;
}

SOCKET handle(long long s)
{
    return SOCKET(s);
}

} // namespace

PrinterSocket::PrinterSocket() : socket_(-1)
{
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
}

PrinterSocket::~PrinterSocket()
{
    if (socket_ != -1)
        closesocket(handle(socket_));
    WSACleanup();
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
    const int looked_up = getaddrinfo(host.toUtf8().constData(), QByteArray::number(port).constData(), &hints, &found);
    if (looked_up != 0) {
        *error = system_words(looked_up);
        return false;
    }
    *error = QStringLiteral("no address");
    for (addrinfo *a = found; a && socket_ == -1; a = a->ai_next) {
        const SOCKET s = socket(a->ai_family, a->ai_socktype, a->ai_protocol);
        if (s == INVALID_SOCKET)
            continue;
        u_long non_blocking = 1;
        ioctlsocket(s, FIONBIO, &non_blocking);
        int failure = 0;
        if (::connect(s, a->ai_addr, int(a->ai_addrlen)) != 0) {
            failure = WSAGetLastError();
            if (failure == WSAEWOULDBLOCK) {
                failure = WSAETIMEDOUT;
                if (ready(s, POLLWRNORM, deadline_ms)) {
                    int size = sizeof failure;
                    getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&failure), &size);
                }
            }
        }
        if (failure == 0) {
            socket_ = (long long)s;
        } else {
            *error = system_words(failure);
            closesocket(s);
        }
    }
    freeaddrinfo(found);
    return socket_ != -1;
}

bool PrinterSocket::send(const QByteArray &bytes, qint64 deadline_ms, QString *error)
{
    for (int sent = 0; sent < bytes.size();) {
        const int n = ::send(handle(socket_), bytes.constData() + sent, bytes.size() - sent, 0);
        if (n > 0) {
            sent += n;
            continue;
        }
        if (WSAGetLastError() != WSAEWOULDBLOCK) {
            *error = system_words(WSAGetLastError());
            return false;
        }
        if (!ready(handle(socket_), POLLWRNORM, deadline_ms)) {
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
    while (!enough(received) && ready(handle(socket_), POLLRDNORM, deadline_ms)) {
        const int n = recv(handle(socket_), buffer, sizeof buffer, 0);
        if (n == 0 || (n < 0 && WSAGetLastError() != WSAEWOULDBLOCK))
            break;
        if (n > 0)
            received.append(buffer, n);
    }
    return received;
}

bool PrinterSocket::close(qint64 deadline_ms)
{
    shutdown(handle(socket_), SD_SEND);
    char buffer[256];
    bool closed = false;
    while (!closed && ready(handle(socket_), POLLRDNORM, deadline_ms)) {
        const int n = recv(handle(socket_), buffer, sizeof buffer, 0);
        closed = n == 0 || (n < 0 && WSAGetLastError() != WSAEWOULDBLOCK);
    }
    closesocket(handle(socket_));
    socket_ = -1;
    return closed;
}
