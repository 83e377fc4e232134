#include "tests/support/cups_server.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <algorithm>

CupsServer::CupsServer(const QString &queue)
{
    cupsd.start(QStringLiteral("bash"), {QStringLiteral(KV20_SOURCE_DIR "/tests/support/cups_server.sh"), dir.path(), queue});
    // Its address once the queue takes jobs, within a bound.
    const QDeadlineTimer deadline(20000);
    while (!cupsd.canReadLine() && cupsd.state() != QProcess::NotRunning && !deadline.hasExpired())
        cupsd.waitForReadyRead(int(deadline.remainingTime()));
    const QByteArray address = cupsd.readLine().trimmed();
    if (address.isEmpty()) {
        if (cupsd.state() == QProcess::NotRunning || cupsd.waitForFinished(1000))
            cannot_run_here_ = cupsd.exitStatus() == QProcess::NormalExit && cupsd.exitCode() == 77;
        error_ = QString::fromLocal8Bit(cupsd.readAllStandardError()).trimmed();
        if (error_.isEmpty())
            error_ = QStringLiteral("the scheduler did not start within 20 s");
        return;
    }
    qputenv("CUPS_SERVER", address);
}

CupsServer::~CupsServer()
{
    qunsetenv("CUPS_SERVER");
    if (cupsd.state() == QProcess::NotRunning)
        return;
    cupsd.terminate();
    if (!cupsd.waitForFinished(10000)) {
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
