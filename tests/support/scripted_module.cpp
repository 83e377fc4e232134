#include "tests/support/scripted_module.h"

#include <chrono>
#include <poll.h>
#include <unistd.h>

void ScriptedModule::serve()
{
    QByteArray pending;
    for (char buf[1024]; running;) {
        pollfd p {pty.master(), POLLIN, 0};
        const ssize_t n = poll(&p, 1, 10) > 0 ? ::read(pty.master(), buf, sizeof buf) : 0;
        pending.append(buf, int(std::max<ssize_t>(n, 0)));
        for (int end; (end = pending.indexOf("\r\n")) >= 0;) {
            const QByteArray command = pending.left(end);
            pending.remove(0, end + 2);
            QList<Burst> bursts;
            {
                std::lock_guard<std::mutex> guard(lock);
                received.append(command);
                bursts = script.value(command);
            }
            for (const Burst &burst : bursts) {
                std::this_thread::sleep_for(std::chrono::milliseconds(burst.delay_ms));
                pty.write(burst.bytes);
            }
        }
    }
}
