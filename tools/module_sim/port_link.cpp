#include "tools/module_sim/port_link.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

PortLink::~PortLink()
{
    remove();
}

bool PortLink::create(const QString &link_path, const QString &target, QString &error)
{
    const QByteArray path = QFile::encodeName(link_path);
    struct stat st {};
    if (lstat(path.constData(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        error = QStringLiteral("%1 exists and is not a symlink; not replacing it").arg(link_path);
        return false;
    }
    const QByteArray temp = path + ".kv20sim." + QByteArray::number(::getpid());
    ::unlink(temp.constData());
    if (::symlink(QFile::encodeName(target).constData(), temp.constData()) != 0
        || ::rename(temp.constData(), path.constData()) != 0) {
        error = QStringLiteral("cannot create the link %1: %2").arg(link_path, QString::fromLocal8Bit(strerror(errno)));
        ::unlink(temp.constData());
        return false;
    }
    path_ = link_path;
    target_ = target;
    return true;
}

void PortLink::remove()
{
    if (path_.isEmpty())
        return;
    const QByteArray path = QFile::encodeName(path_);
    char buf[4096];
    const ssize_t n = ::readlink(path.constData(), buf, sizeof buf - 1);
    if (n > 0 && QByteArray(buf, int(n)) == QFile::encodeName(target_))
        ::unlink(path.constData());
    path_.clear();
}
