#include "tests/support/cups_server.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTcpServer>
#include <QRegularExpression>
#include <QTcpSocket>

#include <algorithm>

#include <unistd.h>

namespace {

bool write_file(const QString &path, const QByteArray &text, QFile::Permissions permissions = {})
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
        return false;
    file.close();
    return !permissions || file.setPermissions(permissions);
}

// The backend CUPS runs for each job of the queue: the job's bytes (a file
// named in its sixth argument, else its standard input) go to
// DIR/job-ID, its title to DIR/job-ID.title, each whole or not at all.
const char backend[] = R"(#!/bin/sh
[ $# -eq 0 ] && exit 0
dir=${DEVICE_URI#kv20jobs:}
printf '%s' "$3" > "$dir/title.part" && mv "$dir/title.part" "$dir/job-$1.title"
if [ -n "$6" ]; then cat "$6"; else cat; fi > "$dir/job.part" && mv "$dir/job.part" "$dir/job-$1"
)";

} // namespace

CupsServer::CupsServer(const QString &queue)
{
    if (geteuid() != 0) {
        error_ = QStringLiteral("cupsd runs as root");
        return;
    }
    if (!QFile::exists(QStringLiteral("/usr/sbin/cupsd")) || !QFile::exists(QStringLiteral("/usr/sbin/lpadmin"))) {
        error_ = QStringLiteral("no cupsd (Debian's cups-daemon and cups-client)");
        return;
    }
    const QString root = dir.path();
    for (const char *sub : {"spool", "cache", "state", "log", "tmp", "bin/backend", "jobs"})
        QDir(root).mkpath(QLatin1String(sub));
    // The scheduler's own helpers from the system, the backend the test's.
    for (const char *helper : {"daemon", "filter", "notifier"})
        QFile::link(QStringLiteral("/usr/lib/cups/") + QLatin1String(helper), root + QStringLiteral("/bin/") + QLatin1String(helper));
    // Root's and 0700: CUPS runs such a backend as root, and no other.
    const bool written =
        write_file(root + QStringLiteral("/bin/backend/kv20jobs"), backend, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    const quint16 port = probe.serverPort();
    probe.close();
    const QByteArray r = root.toUtf8();
    const QByteArray files = "ServerRoot " + r + "\nRequestRoot " + r + "/spool\nCacheDir " + r + "/cache\nStateDir " + r
                             + "/state\nTempDir " + r + "/tmp\nAccessLog " + r + "/log/access_log\nErrorLog " + r
                             + "/log/error_log\nPageLog " + r + "/log/page_log\nServerBin " + r
                             + "/bin\nDataDir /usr/share/cups\n";
    const QByteArray conf = "Listen 127.0.0.1:" + QByteArray::number(port)
                            + "\nWebInterface No\nBrowsing No\nLogLevel warn\nDefaultAuthType None\n"
                              "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n"
                              "<Location /admin>\n  Order allow,deny\n  Allow all\n</Location>\n"
                              "<Policy default>\n  <Limit All>\n    Order deny,allow\n  </Limit>\n</Policy>\n";
    if (!written || !write_file(root + QStringLiteral("/cups-files.conf"), files)
        || !write_file(root + QStringLiteral("/cupsd.conf"), conf)) {
        error_ = QStringLiteral("cannot write the scheduler's files in ") + root;
        return;
    }
    cupsd.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    cupsd.start(QStringLiteral("/usr/sbin/cupsd"),
                {QStringLiteral("-f"), QStringLiteral("-c"), root + QStringLiteral("/cupsd.conf"), QStringLiteral("-s"),
                 root + QStringLiteral("/cups-files.conf")});
    // Up once it takes connections, within a bound.
    const QDeadlineTimer deadline(10000);
    bool up = false;
    while (!up && !deadline.hasExpired() && cupsd.state() != QProcess::NotRunning) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, port);
        up = socket.waitForConnected(200);
        if (!up)
            cupsd.waitForFinished(100);
    }
    if (!up) {
        error_ = QStringLiteral("cupsd did not start: ") + QString::fromLocal8Bit(cupsd.readAllStandardOutput());
        return;
    }
    qputenv("CUPS_SERVER", "127.0.0.1:" + QByteArray::number(port));
    QProcess lpadmin;
    lpadmin.start(QStringLiteral("/usr/sbin/lpadmin"),
                  {QStringLiteral("-p"), queue, QStringLiteral("-E"), QStringLiteral("-v"), QStringLiteral("kv20jobs:") + root + QStringLiteral("/jobs")});
    if (!lpadmin.waitForFinished(10000) || lpadmin.exitCode() != 0)
        error_ = QStringLiteral("lpadmin: ") + QString::fromLocal8Bit(lpadmin.readAllStandardError());
}

CupsServer::~CupsServer()
{
    qunsetenv("CUPS_SERVER");
    if (cupsd.state() == QProcess::NotRunning)
        return;
    cupsd.terminate();
    if (!cupsd.waitForFinished(5000)) {
        cupsd.kill();
        cupsd.waitForFinished(1000);
    }
}

QList<CupsServer::Job> CupsServer::jobs() const
{
    QList<Job> jobs;
    QDir folder(dir.filePath(QStringLiteral("jobs")));
    QStringList names = folder.entryList({QStringLiteral("job-*")}, QDir::Files);
    names = names.filter(QRegularExpression(QStringLiteral("^job-\\d+$")));
    std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) { return a.mid(4).toInt() < b.mid(4).toInt(); });
    for (const QString &name : names) {
        QFile bytes(folder.filePath(name)), title(folder.filePath(name + QStringLiteral(".title")));
        if (bytes.open(QIODevice::ReadOnly) && title.open(QIODevice::ReadOnly))
            jobs << Job {bytes.readAll(), QString::fromUtf8(title.readAll())};
    }
    return jobs;
}
