#include "cli/interrupt_watcher.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

// A self-pipe: the handler only writes the signal number, the event loop
// reads it. Nothing else is safe inside a signal handler.
namespace {
int pipe_fds[2] = {-1, -1};

void on_signal(int number)
{
    const int saved = errno;
    const char byte = static_cast<char>(number);
    (void)!::write(pipe_fds[1], &byte, 1);
    errno = saved;
}
} // namespace

struct InterruptWatcher::Platform
{
    QSocketNotifier *notifier = nullptr;
};

InterruptWatcher::InterruptWatcher(QObject *parent)
    : QObject(parent)
    , platform(new Platform)
{
    if (::pipe2(pipe_fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    platform->notifier = new QSocketNotifier(pipe_fds[0], QSocketNotifier::Read, this);
    connect(platform->notifier, &QSocketNotifier::activated, this, [this] {
        char byte = 0;
        while (::read(pipe_fds[0], &byte, 1) == 1)
            emit interrupted(128 + byte);
    });
    struct sigaction action {};
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
}

InterruptWatcher::~InterruptWatcher()
{
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    std::signal(SIGHUP, SIG_DFL);
    delete platform;
    ::close(pipe_fds[0]);
    ::close(pipe_fds[1]);
    pipe_fds[0] = pipe_fds[1] = -1;
}
