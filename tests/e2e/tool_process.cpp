#include "tests/e2e/tool_process.h"

#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcessEnvironment>

void use_x11_sanitizer_options(QProcessEnvironment &env)
{
    // In a ThreadSanitizer build: the same options with the suppressions for
    // an application on X11 (its event loop runs on GLib).
    const QString options = env.value(QStringLiteral("TSAN_OPTIONS"));
    if (options.isEmpty())
        return;
    QStringList parts = options.split(QLatin1Char(':'));
    for (QString &part : parts)
        if (part.startsWith(QStringLiteral("suppressions=")))
            part = QStringLiteral("suppressions=" KV20_E2E_TSAN_SUPPRESSIONS);
    env.insert(QStringLiteral("TSAN_OPTIONS"), parts.join(QLatin1Char(':')));
}

ToolProcess::~ToolProcess()
{
    stop();
}

bool ToolProcess::start(const QString &display, const QString &sysfs_root, const QString &working_dir)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display);
    env.insert(QStringLiteral("KV20_SYSFS_ROOT"), sysfs_root);
    // The suite itself runs offscreen; the tool goes onto the X server.
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("QT_FORCE_STDERR_LOGGING"), QStringLiteral("1"));
    env.remove(QStringLiteral("QT_LOGGING_RULES"));
    use_x11_sanitizer_options(env);
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

void ToolProcess::stop()
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(3000)) {
        process.kill();
        process.waitForFinished(3000);
    }
    collect();
}

bool ToolProcess::wait_for_exit(int timeout_ms, int *code)
{
    if (process.state() != QProcess::NotRunning && !process.waitForFinished(timeout_ms))
        return false;
    collect();
    *code = process.exitCode();
    return process.exitStatus() == QProcess::NormalExit;
}

void ToolProcess::collect()
{
    if (process.state() == QProcess::Running) {
        while (process.waitForReadyRead(0)) {
        }
    }
    trace += process.readAllStandardError();
}

QByteArray ToolProcess::log()
{
    collect();
    return trace;
}

int ToolProcess::mark()
{
    collect();
    return trace.size();
}

int ToolProcess::wait_for(const QByteArray &needle, int from, int timeout_ms)
{
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        collect();
        const int at = trace.indexOf(needle, from);
        if (at >= 0)
            return at;
        const qint64 left = timeout_ms - timer.elapsed();
        if (left <= 0 || process.state() != QProcess::Running)
            return -1;
        process.waitForReadyRead(int(left));
    }
}

QList<int> ToolProcess::in_order(const QList<QByteArray> &needles, int from)
{
    collect();
    QList<int> positions;
    int at = from;
    for (const QByteArray &needle : needles) {
        at = trace.indexOf(needle, at);
        if (at < 0)
            return {};
        positions << at;
        at += needle.size();
    }
    return positions;
}

int ToolProcess::count(const QByteArray &needle, int from)
{
    collect();
    int n = 0;
    for (int at = trace.indexOf(needle, from); at >= 0; at = trace.indexOf(needle, at + needle.size()))
        ++n;
    return n;
}

bool ToolProcess::holds(const QString &device_path) const
{
    const QString target = QFileInfo(device_path).canonicalFilePath();
    QDir fds(QStringLiteral("/proc/%1/fd").arg(process.processId()));
    const QFileInfoList entries = fds.entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo &fd : entries)
        if (fd.symLinkTarget() == target)
            return true;
    return false;
}
