#pragma once

#include <QString>

// A stable name for the simulated port (the pty number changes from run to
// run). The link is replaced atomically if one is already there, and removed
// on exit only while it still points at our pty.
class PortLink
{
public:
    PortLink() = default;
    ~PortLink();
    PortLink(const PortLink &) = delete;
    PortLink &operator=(const PortLink &) = delete;

    bool create(const QString &link_path, const QString &target, QString &error);
    void remove();

private:
    QString path_;
    QString target_;
};
