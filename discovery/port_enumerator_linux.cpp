#include "discovery/port_enumerator.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QStringList>

#include <algorithm>
#include <mutex>
#include <sys/stat.h>
#include <time.h>

// Linux has no COM-port interface class, so the walk is fed from sysfs and
// each USB serial port is described the way Windows would describe it; the
// identity rules and the name extraction then run unchanged.
//
// Which ports: every entry ROOT/class/tty/<tty> (ROOT is $KV20_SYSFS_ROOT,
// else /sys) whose `device` link resolves to a USB interface or to a child of
// one. From the resolved device directory (itself first) we walk up to the
// first directory holding `bInterfaceNumber`: for cdc-acm (ttyACM*) that is
// the device itself, for usb-serial (ttyUSB*) it is the parent of the
// usb-serial port. The interface's parent is the USB device and must hold
// `idVendor` and `idProduct`; anything else (on-board UARTs, virtual
// consoles, ptys) is not a USB serial port and is left out.
//
// Order: sorted by tty name (plain string order), so that repeated walks and
// the port selector are stable; sysfs itself promises no order.
//
// Device path, lower case, with NN the interface number as two hex digits
// and INSTANCE the USB device's sysfs directory name (bus-port chain such as
// "1-1.4"):
//   \\?\usb#vid_VVVV&pid_PPPP&mi_NN#INSTANCE&00NN#{86e0d1e0-8089-11d0-9ce4-08003e301f73}
// Windows builds its instance id as <parent-id>&<n>&00NN; the bus-port chain
// stands in for the parent id, and the trailing &00NN keeps the form the
// identity rules test for ("&0002", "&0006").
//
// Name: "<product> (<DEVNAME>)" when the USB device reports a product string,
// like a Windows friendly name "<description> (COMn)"; without one, the
// generic "USB Serial Device (<DEVNAME>)" that Windows shows for a CDC port
// without a vendor driver. Parentheses inside the product string become
// brackets: the port name is taken from the first parenthesised part, and a
// product such as "Modem (rev 2)" must not hide the device name. DEVNAME
// comes from the tty's uevent (e.g. "ttyACM0", "pts/5"), else the tty's own
// name; QSerialPort opens such a bare name under /dev. A tty without a
// uevent file at all is leaving as the walk passes it and is not listed.

namespace {

const QString com_port_class_guid = QStringLiteral("{86e0d1e0-8089-11d0-9ce4-08003e301f73}");

QString sysfs_root()
{
    const QString root = qEnvironmentVariable("KV20_SYSFS_ROOT");
    return root.isEmpty() ? QStringLiteral("/sys") : root;
}

// A sysfs attribute without its trailing newline; null when unreadable.
QString read_attribute(const QString &dir, const QString &name)
{
    QFile file(dir + QLatin1Char('/') + name);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    // Attributes are a page at most; a bound keeps a hostile file harmless.
    return QString::fromUtf8(file.read(4096)).trimmed();
}

bool is_hex(const QString &text, int min_digits, int max_digits)
{
    static const QRegularExpression hex(QStringLiteral("^[0-9a-fA-F]+$"));
    return text.size() >= min_digits && text.size() <= max_digits && hex.match(text).hasMatch();
}

// Null when the tty has no uevent file: every tty in sysfs has one, so the
// device is leaving as the walk passes it, and a name made up from the tty's
// would list a port that was never there.
QString devname_of(const QString &tty_entry, const QString &tty_name)
{
    QFile uevent(tty_entry + QStringLiteral("/uevent"));
    if (!uevent.open(QIODevice::ReadOnly))
        return QString();
    const QList<QByteArray> lines = uevent.read(4096).split('\n');
    for (const QByteArray &line : lines) {
        if (line.startsWith("DEVNAME=")) {
            const QString name = QString::fromUtf8(line.mid(8)).trimmed();
            if (!name.isEmpty())
                return name;
        }
    }
    return tty_name;
}

// The directory of the USB interface the tty hangs off, or empty.
QString interface_dir_of(const QString &device_dir, const QString &root_dir)
{
    QString dir = device_dir;
    const QString inside_root = root_dir.endsWith(QLatin1Char('/')) ? root_dir : root_dir + QLatin1Char('/');
    // Never climb out of the sysfs tree we were pointed at.
    while (dir.startsWith(inside_root)) {
        if (QFileInfo::exists(dir + QStringLiteral("/bInterfaceNumber")))
            return dir;
        const int slash = dir.lastIndexOf(QLatin1Char('/'));
        if (slash <= 0)
            break;
        dir.truncate(slash);
    }
    return QString();
}

bool describe_tty(const QString &root_dir, const QString &tty_name, ComPortInterface *out)
{
    const QString entry = root_dir + QStringLiteral("/class/tty/") + tty_name;
    const QString device_dir = QFileInfo(entry + QStringLiteral("/device")).canonicalFilePath();
    if (device_dir.isEmpty())
        return false;
    const QString interface_dir = interface_dir_of(device_dir, root_dir);
    if (interface_dir.isEmpty())
        return false;
    const QString usb_dir = interface_dir.left(interface_dir.lastIndexOf(QLatin1Char('/')));
    const QString vid = read_attribute(usb_dir, QStringLiteral("idVendor"));
    const QString pid = read_attribute(usb_dir, QStringLiteral("idProduct"));
    const QString interface_number = read_attribute(interface_dir, QStringLiteral("bInterfaceNumber"));
    if (!is_hex(vid, 4, 4) || !is_hex(pid, 4, 4) || !is_hex(interface_number, 1, 2))
        return false;
    const QString mi = interface_number.rightJustified(2, QLatin1Char('0')).toLower();
    const QString instance = QFileInfo(usb_dir).fileName().toLower();
    out->usb_device = usb_dir;
    out->slot = QFileInfo(usb_dir).fileName();

    out->device_path = QStringLiteral("\\\\?\\usb#vid_%1&pid_%2&mi_%3#%4&00%3#%5")
                           .arg(vid.toLower(), pid.toLower(), mi, instance, com_port_class_guid);

    QString product = read_attribute(usb_dir, QStringLiteral("product"));
    product.replace(QLatin1Char('('), QLatin1Char('[')).replace(QLatin1Char(')'), QLatin1Char(']'));
    const QString description = product.isEmpty() ? QStringLiteral("USB Serial Device") : product;
    const QString devname = devname_of(entry, tty_name);
    out->name = QStringLiteral("%1 (%2)").arg(description, devname);
    return !devname.isNull();
}

} // namespace

namespace {

// What the walk found of one tty, kept while the tty's directory is the same
// one (its inode and change time): with a hub of modules present, the walk
// that follows each device event must not read every module's attributes
// again (15 ms at 128 modules). A device made anew under the same name has a
// directory of its own, and is read again. Change times are coarse (a few
// ms) and inode numbers are reused, so only a directory already older than
// that when it was read is taken for the same one later: a new one's change
// time then differs.
struct Described
{
    ino_t inode = 0;
    qint64 changed_ns = 0;
    bool usb = false;
    ComPortInterface port;
};

std::mutex walk_mutex;
QHash<QString, Described> described;  // by the tty's class entry

} // namespace

QList<ComPortInterface> enumerate_com_port_interfaces()
{
    QList<ComPortInterface> ports;
    const QString root_dir = QFileInfo(sysfs_root()).canonicalFilePath();
    if (root_dir.isEmpty())
        return ports;
    QStringList ttys = QDir(root_dir + QStringLiteral("/class/tty"))
                           .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::NoSort);
    std::sort(ttys.begin(), ttys.end());
    std::lock_guard<std::mutex> locker(walk_mutex);
    constexpr qint64 settled_ns = 20 * 1000 * 1000;
    timespec clock {};
    clock_gettime(CLOCK_REALTIME, &clock);  // the clock of change times
    const qint64 walk_started_ns = qint64(clock.tv_sec) * 1000000000 + clock.tv_nsec;
    QHash<QString, Described> seen;
    for (const QString &tty : qAsConst(ttys)) {
        const QString entry = root_dir + QStringLiteral("/class/tty/") + tty;
        struct stat status {};
        if (stat(QFile::encodeName(entry).constData(), &status) != 0)
            continue;
        Described now;
        now.inode = status.st_ino;
        now.changed_ns = qint64(status.st_ctim.tv_sec) * 1000000000 + status.st_ctim.tv_nsec;
        const Described kept = described.value(entry);
        if (kept.inode == now.inode && kept.changed_ns == now.changed_ns) {
            now = kept;
        } else {
            now.usb = describe_tty(root_dir, tty, &now.port);
            if (walk_started_ns - now.changed_ns < settled_ns)
                now.changed_ns = -1;  // read again next time
        }
        seen.insert(entry, now);
        if (now.usb)
            ports.append(now.port);
    }
    described.swap(seen);
    return ports;
}

QString port_device_node(const QString &port_name)
{
    return QStringLiteral("/dev/") + port_name;
}

bool unlisted_port(const QString &name, QString *port, QString *node)
{
    if (!QFileInfo::exists(name))
        return false;
    *node = QFileInfo(name).absoluteFilePath();
    *port = node->startsWith(QLatin1String("/dev/")) ? node->mid(5) : name;
    return true;
}

QString port_node_stamp(const QString &node)
{
    // A replugged module's node is made anew (devtmpfs, devpts): a new
    // inode or a new change time.
    struct stat status {};
    if (stat(QFile::encodeName(node).constData(), &status) != 0)
        return QString();
    return QStringLiteral("%1:%2.%3").arg(status.st_ino).arg(status.st_ctim.tv_sec).arg(status.st_ctim.tv_nsec);
}
