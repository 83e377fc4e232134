// kv20-module-sim: plays the networked audio module on a pseudo-terminal so
// that the tool can be trained on, demonstrated and tested without hardware.

#include "tools/module_sim/device_tree.h"
#include "tools/module_sim/module_sim.h"
#include "tools/module_sim/port_link.h"
#include "tools/module_sim/pty_line.h"
#include "tools/module_sim/sim_log.h"
#include "tools/module_sim/sim_options.h"

#include <QStringList>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

int g_stop_pipe[2] = {-1, -1};

extern "C" void on_stop_signal(int number)
{
    const int saved = errno;
    const char b = number == SIGUSR1 ? kRestartNow : number == SIGUSR2 ? kPlugIn : kStopNow;
    [[maybe_unused]] const ssize_t n = ::write(g_stop_pipe[1], &b, 1);
    errno = saved;
}

bool install_stop_signals()
{
    if (::pipe2(g_stop_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    struct sigaction sa {};
    sa.sa_handler = on_stop_signal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGUSR1, &sa, nullptr);
    sigaction(SIGUSR2, &sa, nullptr);
    // A reader of stdout or stderr that went away must not kill the module.
    signal(SIGPIPE, SIG_IGN);
    return true;
}

// Tells a tool that follows device events (KV20_DEVICE_EVENT_FIFO, as udev
// would) that the port came or went: at the start, at the end, around a
// restart. Never waits: nobody listening is fine.
void announce(const char *event)
{
    const QByteArray fifo = qgetenv("KV20_DEVICE_EVENT_FIFO");
    const int fd = fifo.isEmpty() ? -1 : ::open(fifo.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return;
    const QByteArray line = QByteArray(event) + '\n';
    [[maybe_unused]] const ssize_t n = ::write(fd, line.constData(), size_t(line.size()));
    ::close(fd);
}

// --plug-in-on-signal: false when a stop came before the plug-in.
bool wait_for_plug_in()
{
    for (;;) {
        pollfd signals {g_stop_pipe[0], POLLIN, 0};
        char ask = 0;
        if (poll(&signals, 1, -1) > 0 && ::read(g_stop_pipe[0], &ask, 1) == 1 && ask != kRestartNow)
            return ask == kPlugIn;
    }
}

const char *variant_name(Variant v)
{
    return v == Variant::Wifi ? "wifi" : "cellular";
}

} // namespace

int main(int argc, char **argv)
{
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);

    SimOptions options;
    QString message;
    switch (parse_options(args, options, message)) {
    case ParseOutcome::Help:
        std::fputs(help_text().toLocal8Bit().constData(), stdout);
        return 0;
    case ParseOutcome::Error:
        std::fprintf(stderr, "kv20-module-sim: %s\nTry --help.\n", message.toLocal8Bit().constData());
        return 2;
    case ParseOutcome::Run:
        break;
    }
    log_set_quiet(options.quiet);

    if (!install_stop_signals()) {
        log_error(QStringLiteral("cannot set up signal handling"));
        return 1;
    }

    PtyLine line;
    if (!line.open(message)) {
        log_error(message);
        return 1;
    }
    line.set_pace(options.pace_baud, SimClock::now());

    // Made before the port shows, so that a port not ready yet refuses its
    // first open.
    ModuleSim sim(options, line);
    PortLink link;
    if (!options.link_path.isEmpty() && !link.create(options.link_path, line.slave_path(), message)) {
        log_error(message);
        return 1;
    }
    DeviceTree tree;
    const auto plug_in = [&] {
        if (options.device_tree.isEmpty())
            return true;
        if (!tree.create(options.device_tree, line.pty_number(), options.identity, !options.no_product, options.usb_port, message)) {
            log_error(message);
            return false;
        }
        announce("add");
        return true;
    };
    if (!options.plug_in_on_signal && !plug_in())
        return 1;

    // The first line of stdout is the contract with whoever started us: the
    // port is ready (and so are the link and the device tree, unless they
    // wait for the plug-in) once it shows.
    std::printf("%s\n", line.slave_path().toLocal8Bit().constData());
    std::fflush(stdout);
    if (options.plug_in_on_signal) {
        if (!wait_for_plug_in())
            return 0;
        if (!plug_in())
            return 1;
    }
    log_line(QStringLiteral("%1 module ready on %2%3")
                 .arg(QLatin1String(variant_name(options.variant)), line.slave_path(),
                      options.pace_baud > 0 ? QStringLiteral(", paced at %1 baud").arg(options.pace_baud) : QString()));

    sim.set_presence_handler([&](bool present) {
        if (options.device_tree.isEmpty())
            return;
        QString error;
        if (!present)
            tree.remove();
        else if (!tree.create(options.device_tree, line.pty_number(), options.identity, !options.no_product, options.usb_port, error))
            log_error(error);
        announce(present ? "add" : "remove");
    });
    const SimExit why = sim.run(g_stop_pipe[0]);
    // As the kernel takes a device away: listed no more, then its node goes.
    // The other way round, a new module could take the pty's number while
    // the tree still lists this one.
    if (!options.device_tree.isEmpty() && why != SimExit::Unplugged) {
        tree.remove();
        announce("remove");
    }
    link.remove();
    line.close();
    switch (why) {
    case SimExit::Stopped:
        log_line(QStringLiteral("stopped"));
        return 0;
    case SimExit::Unplugged:
        return 0;
    case SimExit::LineFailed:
        break;
    }
    return 1;
}
