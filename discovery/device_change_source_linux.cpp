#include "discovery/device_change_source.h"

#include "discovery/discovery_log.h"

#include <QByteArray>
#include <QSocketNotifier>

#include <libudev.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// On Linux nothing sends the window a device-change message, so this source
// stands in for WM_DEVICECHANGE. Everything runs on the thread that owns the
// source (the GUI thread): both descriptors are watched by QSocketNotifiers,
// and device_changed is emitted from their handlers.
//
// 1. A libudev monitor on subsystem "tty". uevent actions map to the Windows
//    event codes the window already understands:
//      "add"    -> 0x8000 DBT_DEVICEARRIVAL
//      "remove" -> 0x8004 DBT_DEVICEREMOVECOMPLETE (never a volume: a tty is
//                  not one)
//      others ("change", "move", "bind", "unbind") -> 0x0007
//                  DBT_DEVNODES_CHANGED, which Windows broadcasts for any
//                  change of the device tree; the window refreshes on it and
//                  traces only its code.
//    The "udev" netlink source is used when udevd runs (its control socket
//    /run/udev/control exists). Without udevd (containers, minimal systems)
//    libudev still hands out a "udev" monitor, but a silent one, so we take
//    the "kernel" source there, and also whenever the "udev" one cannot be
//    created or enabled. The kernel source sees the device before udev has
//    processed it; that is early enough, since the port walk reads sysfs,
//    not the udev database.
//
// 2. Injected notifications for demos and end-to-end tests, where no real
//    device appears: when $KV20_DEVICE_EVENT_FIFO names a path, that FIFO is
//    created if missing and read line by line:
//      "add"           -> 0x8000
//      "remove"        -> 0x8004
//      "remove-volume" -> 0x8004 for a volume with flags 0
//    Other lines are ignored with a warning. The FIFO is opened read-write
//    and non-blocking, so opening never waits for a writer and the last
//    writer closing never leaves the notifier spinning on end-of-file.
//
// If no monitor can be opened the tool still runs; it says so once on the
// debug output and then discovers a module only at start-up (or on injected
// events).

namespace {

constexpr quint32 device_arrival = 0x8000;
constexpr quint32 device_remove_complete = 0x8004;
constexpr quint32 devnodes_changed = 0x0007;

// An injected line longer than this is not one of ours.
constexpr int max_fifo_line = 256;

quint32 event_code_for_action(const char *action)
{
    const QByteArray name(action ? action : "");
    if (name == "add")
        return device_arrival;
    if (name == "remove")
        return device_remove_complete;
    return devnodes_changed;
}

bool udevd_running()
{
    return access("/run/udev/control", F_OK) == 0;
}

} // namespace

struct DeviceChangeSource::Private
{
    udev *context = nullptr;
    udev_monitor *monitor = nullptr;
    QSocketNotifier *monitor_notifier = nullptr;

    int fifo_fd = -1;
    QSocketNotifier *fifo_notifier = nullptr;
    QByteArray fifo_pending;

    udev_monitor *open_monitor(const char *source)
    {
        udev_monitor *candidate = udev_monitor_new_from_netlink(context, source);
        if (!candidate)
            return nullptr;
        if (udev_monitor_filter_add_match_subsystem_devtype(candidate, "tty", nullptr) < 0
            || udev_monitor_enable_receiving(candidate) < 0) {
            udev_monitor_unref(candidate);
            return nullptr;
        }
        return candidate;
    }

    bool open_udev()
    {
        context = udev_new();
        if (!context)
            return false;
        if (udevd_running())
            monitor = open_monitor("udev");
        if (!monitor)
            monitor = open_monitor("kernel");
        return monitor != nullptr;
    }

    // False when the variable is unset or the FIFO cannot be used; the
    // second case is reported.
    bool open_fifo()
    {
        const QByteArray path = qgetenv("KV20_DEVICE_EVENT_FIFO");
        if (path.isEmpty())
            return false;
        if (mkfifo(path.constData(), 0600) != 0 && errno != EEXIST) {
            qCWarning(discovery_log) << "device events: cannot create FIFO" << path << ":" << strerror(errno);
            return false;
        }
        fifo_fd = open(path.constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (fifo_fd < 0) {
            qCWarning(discovery_log) << "device events: cannot open FIFO" << path << ":" << strerror(errno);
            return false;
        }
        struct stat info;
        // A regular file would always poll readable and keep the GUI thread
        // busy reading end-of-file.
        if (fstat(fifo_fd, &info) != 0 || !S_ISFIFO(info.st_mode)) {
            qCWarning(discovery_log) << "device events:" << path << "is not a FIFO";
            close(fifo_fd);
            fifo_fd = -1;
            return false;
        }
        return true;
    }

    // Signals are public in Qt 5, so the source's own helper may emit them.
    void read_injected_events(DeviceChangeSource *source)
    {
        // A bound per wake-up, so that a writer that never stops cannot hold
        // the GUI thread; the notifier fires again for the rest.
        char chunk[512];
        for (int i = 0; i < 16; ++i) {
            const ssize_t got = read(fifo_fd, chunk, sizeof chunk);
            if (got <= 0)
                break;
            fifo_pending.append(chunk, static_cast<int>(got));
        }

        QList<quint32> codes;
        QList<bool> volumes;
        int newline;
        while ((newline = fifo_pending.indexOf('\n')) >= 0) {
            const QByteArray line = fifo_pending.left(newline).trimmed();
            fifo_pending.remove(0, newline + 1);
            if (line.isEmpty())
                continue;
            if (line == "add") {
                codes.append(device_arrival);
                volumes.append(false);
            } else if (line == "remove") {
                codes.append(device_remove_complete);
                volumes.append(false);
            } else if (line == "remove-volume") {
                codes.append(device_remove_complete);
                volumes.append(true);
            } else {
                qCWarning(discovery_log) << "device events: ignoring injected line" << line.left(max_fifo_line);
            }
        }
        if (fifo_pending.size() > max_fifo_line) {
            qCWarning(discovery_log) << "device events: dropping an over-long injected line";
            fifo_pending.clear();
        }

        // Emitted after parsing: a receiver may run a whole device refresh, and
        // the buffer is then already consistent.
        for (int i = 0; i < codes.size(); ++i)
            emit source->device_changed(codes.at(i), volumes.at(i));
    }

    ~Private()
    {
        delete monitor_notifier;
        delete fifo_notifier;
        if (monitor)
            udev_monitor_unref(monitor);
        if (context)
            udev_unref(context);
        if (fifo_fd >= 0)
            close(fifo_fd);
    }
};

DeviceChangeSource::DeviceChangeSource(QObject *parent)
    : QObject(parent)
    , d(new Private)
{
    const bool have_monitor = d->open_udev();
    const bool have_fifo = d->open_fifo();

    if (have_monitor) {
        d->monitor_notifier = new QSocketNotifier(udev_monitor_get_fd(d->monitor), QSocketNotifier::Read);
        connect(d->monitor_notifier, &QSocketNotifier::activated, this, [this] {
            // Drain what is queued, with a bound so that a storm of uevents
            // cannot hold the GUI thread; the notifier fires again for the rest.
            for (int i = 0; i < 64; ++i) {
                udev_device *device = udev_monitor_receive_device(d->monitor);
                if (!device)
                    break;
                const quint32 code = event_code_for_action(udev_device_get_action(device));
                udev_device_unref(device);
                emit device_changed(code, false);
            }
        });
    }

    if (have_fifo) {
        d->fifo_notifier = new QSocketNotifier(d->fifo_fd, QSocketNotifier::Read);
        connect(d->fifo_notifier, &QSocketNotifier::activated, this, [this] { d->read_injected_events(this); });
    }

    if (!have_monitor)
        qCWarning(discovery_log) << (have_fifo ? "device events: no udev monitor could be opened; only injected events are seen"
                                 : "device events: no udev monitor could be opened; a module plugged in later"
                                   " is not noticed until restart");
}

DeviceChangeSource::~DeviceChangeSource()
{
    delete d;
}
