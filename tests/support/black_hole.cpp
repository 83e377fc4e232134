#include "tests/support/black_hole.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

BlackHole::BlackHole()
{
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr *>(&address), length) != 0
        || ::listen(listener_, 0) != 0 || ::getsockname(listener_, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        return;
    port_ = ntohs(address.sin_port);
    // Connections fill the queue until one gets no answer: from then on
    // every SYN is dropped.
    for (int i = 0; i < 8 && !dropping_; ++i) {
        const int client = ::socket(AF_INET, SOCK_STREAM, 0);
        if (client < 0)
            return;
        clients_.push_back(client);
        ::fcntl(client, F_SETFL, O_NONBLOCK);
        if (::connect(client, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0)
            continue;
        if (errno != EINPROGRESS)
            return;
        pollfd entry {client, POLLOUT, 0};
        dropping_ = ::poll(&entry, 1, 300) == 0;
    }
}

BlackHole::~BlackHole()
{
    for (const int client : clients_)
        ::close(client);
    if (listener_ >= 0)
        ::close(listener_);
}
