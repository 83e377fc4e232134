#include "tools/module_sim/device_tree.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct IdentityFiles
{
    const char *vendor;
    const char *product_id;
    int interface_number;
};

IdentityFiles identity_files(UsbIdentity identity)
{
    switch (identity) {
    case UsbIdentity::Alt:
        return {"19d1", "0001", 6};
    case UsbIdentity::Other:
        return {"1a86", "7523", 0};
    case UsbIdentity::Module:
        break;
    }
    return {"3505", "0001", 2};
}

bool exists_nofollow(const QString &path)
{
    struct stat st {};
    return lstat(QFile::encodeName(path).constData(), &st) == 0;
}

QString os_error()
{
    return QString::fromLocal8Bit(strerror(errno));
}

bool write_text(const QString &path, const QByteArray &text, QString &error)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(text) != text.size()) {
        error = QStringLiteral("cannot write %1: %2").arg(path, f.errorString());
        return false;
    }
    return true;
}

bool make_symlink(const QString &target, const QString &link, QString &error)
{
    if (::symlink(QFile::encodeName(target).constData(), QFile::encodeName(link).constData()) != 0) {
        error = QStringLiteral("cannot create the link %1: %2").arg(link, os_error());
        return false;
    }
    return true;
}

} // namespace

DeviceTree::~DeviceTree()
{
    remove();
}

bool DeviceTree::create(const QString &dir_arg, int pty_number, UsbIdentity identity, bool with_product,
                        const QString &usb_port, QString &error)
{
    if (pty_number < 0) {
        error = QStringLiteral("the pty has no /dev/pts number");
        return false;
    }
    const QString dir = QDir(dir_arg).absolutePath();
    const IdentityFiles id = identity_files(identity);
    const QString tty = QStringLiteral("kv20sim%1").arg(pty_number);
    const QString iface = QStringLiteral("%1:1.%2").arg(usb_port).arg(id.interface_number);
    // Each hub in the chain is a directory of its own: 1-1/1-1.4/1-1.4.2.
    QString usb_path = usb_port.section(QLatin1Char('.'), 0, 0);
    for (int hubs = usb_port.count(QLatin1Char('.')), n = 1; n <= hubs; ++n)
        usb_path += QLatin1Char('/') + usb_port.section(QLatin1Char('.'), 0, n);
    const QString devices = dir + QStringLiteral("/devices");
    const QString class_tty = dir + QStringLiteral("/class/tty");
    // One device folder per pty, so several simulators stand side by side in
    // one tree, as modules on one hub do.
    const QString final_dir = devices + '/' + tty;
    const QString link = class_tty + '/' + tty;

    if (exists_nofollow(final_dir) || exists_nofollow(link)) {
        error = QStringLiteral("%1 already holds a simulated device (another simulator, or a leftover to remove)").arg(dir);
        return false;
    }

    // DIR itself belongs to the caller: made if missing, but never removed.
    if (!QDir().mkpath(dir)) {
        error = QStringLiteral("cannot create %1").arg(dir);
        return false;
    }
    for (const QString &d : {devices, dir + QStringLiteral("/class"), class_tty}) {
        if (QFileInfo::exists(d))
            continue;
        if (!QDir().mkdir(d)) {
            // Another simulator starting at the same time may have made it.
            if (QFileInfo(d).isDir())
                continue;
            error = QStringLiteral("cannot create %1").arg(d);
            remove();
            return false;
        }
        made_dirs_ << d;
    }

    const QString temp = devices + QStringLiteral("/.kv20sim.%1").arg(::getpid());
    const QString usb = temp + QStringLiteral("/usb1/") + usb_path;
    const QString tty_dir = usb + '/' + iface + QStringLiteral("/tty/") + tty;
    bool ok = QDir().mkpath(tty_dir);
    if (!ok)
        error = QStringLiteral("cannot create %1").arg(tty_dir);
    ok = ok && write_text(usb + QStringLiteral("/idVendor"), QByteArray(id.vendor) + '\n', error);
    ok = ok && write_text(usb + QStringLiteral("/idProduct"), QByteArray(id.product_id) + '\n', error);
    if (with_product)
        ok = ok && write_text(usb + QStringLiteral("/product"), "KV20 Simulated Module\n", error);
    ok = ok && write_text(usb + '/' + iface + QStringLiteral("/bInterfaceNumber"),
                          QStringLiteral("%1\n").arg(id.interface_number, 2, 10, QChar('0')).toLatin1(), error);
    ok = ok && write_text(tty_dir + QStringLiteral("/uevent"),
                          QStringLiteral("MAJOR=136\nMINOR=%1\nDEVNAME=pts/%1\n").arg(pty_number).toLatin1(), error);
    ok = ok && make_symlink(QStringLiteral("../.."), tty_dir + QStringLiteral("/device"), error);
    if (ok && ::rename(QFile::encodeName(temp).constData(), QFile::encodeName(final_dir).constData()) != 0) {
        error = QStringLiteral("cannot rename %1 to %2: %3").arg(temp, final_dir, os_error());
        ok = false;
    }
    if (!ok) {
        QDir(temp).removeRecursively();
        remove();
        return false;
    }
    device_dir_ = final_dir;

    const QString target = QStringLiteral("../../devices/") + tty + QStringLiteral("/usb1/") + usb_path + QLatin1Char('/') + iface + QStringLiteral("/tty/") + tty;
    const QString temp_link = class_tty + QStringLiteral("/.%1.%2").arg(tty).arg(::getpid());
    ok = make_symlink(target, temp_link, error);
    if (ok && ::rename(QFile::encodeName(temp_link).constData(), QFile::encodeName(link).constData()) != 0) {
        error = QStringLiteral("cannot rename %1 to %2: %3").arg(temp_link, link, os_error());
        ::unlink(QFile::encodeName(temp_link).constData());
        ok = false;
    }
    if (!ok) {
        remove();
        return false;
    }
    class_link_ = link;
    return true;
}

void DeviceTree::remove()
{
    // Link first, so a reader never follows it into a half-removed device.
    if (!class_link_.isEmpty())
        ::unlink(QFile::encodeName(class_link_).constData());
    if (!device_dir_.isEmpty())
        QDir(device_dir_).removeRecursively();
    for (int i = int(made_dirs_.size()) - 1; i >= 0; --i)
        ::rmdir(QFile::encodeName(made_dirs_[i]).constData());
    class_link_.clear();
    device_dir_.clear();
    made_dirs_.clear();
}
