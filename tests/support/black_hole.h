#pragma once

#include <QtGlobal>

#include <vector>

// A TCP port on 127.0.0.1 that drops every SYN, as a firewall, a pulled
// cable or a switch that is down does: a listener whose accept queue
// (listen(fd, 0)) is full. A client's connect there gets no answer at all.
class BlackHole
{
public:
    BlackHole();
    ~BlackHole();
    BlackHole(const BlackHole &) = delete;
    BlackHole &operator=(const BlackHole &) = delete;
    // 0 when no such port could be made.
    quint16 port() const { return dropping_ ? port_ : 0; }

private:
    int listener_ = -1;
    quint16 port_ = 0;
    bool dropping_ = false;
    std::vector<int> clients_;
};
