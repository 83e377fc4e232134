#include "cli/terminal.h"

#include <csignal>
#include <poll.h>
#include <unistd.h>

bool stdout_is_terminal()
{
    return isatty(STDOUT_FILENO) == 1;
}

void ignore_broken_pipe()
{
    std::signal(SIGPIPE, SIG_IGN);
}

bool output_closed()
{
    // The writing end of a pipe without a reader polls as POLLERR; a
    // terminal that hung up as POLLHUP.
    pollfd fds[2] = {{STDOUT_FILENO, 0, 0}, {STDERR_FILENO, 0, 0}};
    if (poll(fds, 2, 0) <= 0)
        return false;
    return ((fds[0].revents | fds[1].revents) & (POLLERR | POLLHUP)) != 0;
}
