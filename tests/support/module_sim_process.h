#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

// kv20-module-sim for a test or a benchmark: its port is device_path() once
// start() succeeded. Every wait is bounded and waits on the simulator's output.
class ModuleSimProcess
{
public:
    explicit ModuleSimProcess(const QStringList &args = {}) : args_(args) {}
    ~ModuleSimProcess() { stop(); }
    ModuleSimProcess(const ModuleSimProcess &) = delete;
    ModuleSimProcess &operator=(const ModuleSimProcess &) = delete;

    // Starts it and waits for the first line of its stdout: the pty path.
    bool start(int timeout_ms = 5000);
    // Starts it without waiting, for a caller that follows process()'s
    // signals in its own event loop (the pty path is stdout's first line).
    void launch();
    QProcess &process() { return process_; }
    QString device_path() const { return device_path_; }
    // SIGTERM, a bounded wait, then SIGKILL.
    void stop();
    // Everything it logged on stderr so far.
    QByteArray stderr_log();
    // Waits until stderr contains needle; false on timeout or exit.
    bool wait_for_log(const QByteArray &needle, int timeout_ms);

private:
    bool wait_for(QProcess::ProcessChannel channel, qint64 left_ms);

    QStringList args_;
    QProcess process_;
    QString device_path_;
    QByteArray stderr_;
};
