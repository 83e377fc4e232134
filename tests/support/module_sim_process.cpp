#include "tests/support/module_sim_process.h"

#include <QDebug>
#include <QElapsedTimer>

bool ModuleSimProcess::start(int timeout_ms)
{
    QElapsedTimer timer;
    timer.start();
    launch();
    while (!process_.canReadLine() && wait_for(QProcess::StandardOutput, timeout_ms - timer.elapsed())) {
    }
    device_path_ = QString::fromLocal8Bit(process_.readLine()).trimmed();
    if (device_path_.isEmpty()) {
        qWarning() << "module simulator gave no port:" << process_.errorString() << stderr_log();
        stop();
    }
    return !device_path_.isEmpty();
}

void ModuleSimProcess::launch()
{
    process_.setStandardInputFile(QProcess::nullDevice());  // it must not depend on stdin
    process_.start(QStringLiteral(KV20_MODULE_SIM_PATH), args_);
}

void ModuleSimProcess::stop()
{
    stderr_log();
    process_.terminate();
    if (process_.state() != QProcess::NotRunning && !process_.waitForFinished(3000)) {
        process_.kill();
        process_.waitForFinished(3000);
    }
    stderr_ += process_.readAllStandardError();
}

bool ModuleSimProcess::wait_for(QProcess::ProcessChannel channel, qint64 left_ms)
{
    // QProcess fills its buffers only inside an event loop or a waitFor call.
    process_.setReadChannel(channel);
    const bool more = left_ms >= 0 && process_.state() != QProcess::NotRunning && process_.waitForReadyRead(int(left_ms));
    process_.setReadChannel(QProcess::StandardOutput);
    return more;
}

QByteArray ModuleSimProcess::stderr_log()
{
    while (wait_for(QProcess::StandardError, 0)) {
    }
    return stderr_ += process_.readAllStandardError();
}

bool ModuleSimProcess::wait_for_log(const QByteArray &needle, int timeout_ms)
{
    QElapsedTimer timer;
    for (timer.start(); !stderr_log().contains(needle);)
        if (!wait_for(QProcess::StandardError, timeout_ms - timer.elapsed()))
            return stderr_log().contains(needle);
    return true;
}
