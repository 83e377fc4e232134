#include "tests/support/module_sim_process.h"

#include <QDebug>
#include <QElapsedTimer>

ModuleSimProcess::ModuleSimProcess(const QStringList &args) : args_(args)
{
}

ModuleSimProcess::~ModuleSimProcess()
{
    stop();
}

bool ModuleSimProcess::start(int timeout_ms)
{
    QElapsedTimer timer;
    timer.start();
    device_path_.clear();
    stderr_.clear();
    process_.setProgram(QStringLiteral(KV20_MODULE_SIM_PATH));
    process_.setArguments(args_);
    process_.setReadChannel(QProcess::StandardOutput);
    // No stdin: the simulator must run on regardless of it.
    process_.setStandardInputFile(QProcess::nullDevice());
    process_.start();
    if (!process_.waitForStarted(timeout_ms)) {
        qWarning() << "module simulator did not start:" << process_.errorString();
        return false;
    }
    while (!process_.canReadLine()) {
        const qint64 left = timeout_ms - timer.elapsed();
        if (left <= 0 || !process_.waitForReadyRead(int(left))) {
            collect_stderr();
            qWarning() << "module simulator gave no port within" << timeout_ms << "ms; stderr:" << stderr_;
            stop();
            return false;
        }
    }
    device_path_ = QString::fromLocal8Bit(process_.readLine()).trimmed();
    return !device_path_.isEmpty();
}

QString ModuleSimProcess::device_path() const
{
    return device_path_;
}

void ModuleSimProcess::stop()
{
    if (process_.state() == QProcess::NotRunning)
        return;
    process_.terminate();
    if (!process_.waitForFinished(3000)) {
        qWarning() << "module simulator ignored SIGTERM; killing it";
        process_.kill();
        process_.waitForFinished(3000);
    }
    collect_stderr();
}

void ModuleSimProcess::collect_stderr()
{
    // QProcess fills its buffers only from an event loop or a waitFor call;
    // a zero wait reads whatever is already in the pipes.
    if (process_.state() == QProcess::Running) {
        process_.setReadChannel(QProcess::StandardError);
        while (process_.waitForReadyRead(0)) {
        }
        process_.setReadChannel(QProcess::StandardOutput);
    }
    stderr_ += process_.readAllStandardError();
}

QByteArray ModuleSimProcess::stderr_log()
{
    collect_stderr();
    return stderr_;
}

bool ModuleSimProcess::wait_for_log(const QByteArray &needle, int timeout_ms)
{
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        collect_stderr();
        if (stderr_.contains(needle))
            return true;
        const qint64 left = timeout_ms - timer.elapsed();
        if (left <= 0 || process_.state() != QProcess::Running)
            return false;
        process_.setReadChannel(QProcess::StandardError);
        process_.waitForReadyRead(int(left));
        process_.setReadChannel(QProcess::StandardOutput);
    }
}

bool ModuleSimProcess::wait_for_exit(int timeout_ms)
{
    if (process_.state() != QProcess::NotRunning && !process_.waitForFinished(timeout_ms))
        return false;
    collect_stderr();
    return true;
}

bool ModuleSimProcess::running() const
{
    return process_.state() != QProcess::NotRunning;
}

int ModuleSimProcess::exit_code() const
{
    return process_.exitCode();
}

QProcess::ExitStatus ModuleSimProcess::exit_status() const
{
    return process_.exitStatus();
}
