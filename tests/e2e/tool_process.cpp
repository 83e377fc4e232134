#include "tests/e2e/tool_process.h"
#include "tests/e2e/x_display.h"

#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>

int count_of(const QByteArray &haystack, const QByteArray &needle)
{
    int n = 0;
    for (int at = haystack.indexOf(needle); at >= 0; at = haystack.indexOf(needle, at + needle.size()))
        ++n;
    return n;
}

bool ToolProcess::start(const XDisplay &display, const QString &sysfs_root, const QString &working_dir)
{
    QProcessEnvironment env = display.environment();
    env.insert(QStringLiteral("KV20_SYSFS_ROOT"), sysfs_root);
    // The suite itself runs offscreen; the tool goes onto the X server.
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("QT_FORCE_STDERR_LOGGING"), QStringLiteral("1"));
    env.remove(QStringLiteral("QT_LOGGING_RULES"));
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(working_dir);
    process.setProgram(QStringLiteral(KV20_BIN_DIR "/kv20-tool"));
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setReadChannel(QProcess::StandardError);
    trace.clear();
    process.start();
    if (!process.waitForStarted(5000)) {
        qWarning() << "kv20-tool did not start:" << process.errorString();
        return false;
    }
    return true;
}

ToolProcess::~ToolProcess()
{
    stop_process(process);
}

bool ToolProcess::wait_for_exit(int timeout_ms, int *code)
{
    if (process.state() != QProcess::NotRunning && !process.waitForFinished(timeout_ms))
        return false;
    log();
    *code = process.exitCode();
    return process.exitStatus() == QProcess::NormalExit;
}

QByteArray ToolProcess::log()
{
    if (process.state() == QProcess::Running) {
        while (process.waitForReadyRead(0)) {
        }
    }
    trace += process.readAllStandardError();
    return trace;
}

int ToolProcess::wait_for(const QByteArray &needle, int from, int timeout_ms)
{
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        const int at = log().indexOf(needle, from);
        if (at >= 0)
            return at;
        const qint64 left = timeout_ms - timer.elapsed();
        if (left <= 0 || process.state() != QProcess::Running)
            return -1;
        process.waitForReadyRead(int(left));
    }
}

bool ToolProcess::shows_in_order(const QList<QByteArray> &needles, int from)
{
    int at = from;
    for (const QByteArray &needle : needles) {
        at = log().indexOf(needle, at);
        if (at < 0) {
            qWarning().noquote() << "missing, or out of order:" << needle << "\ntrace:\n" << trace.mid(from);
            return false;
        }
        at += needle.size();
    }
    return true;
}

bool ToolProcess::holds(const QString &device_path) const
{
    const QString target = QFileInfo(device_path).canonicalFilePath();
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(process.processId()));
    for (const QFileInfo &fd : fds.entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot))
        if (fd.symLinkTarget() == target)
            return true;
    return false;
}
