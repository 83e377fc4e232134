#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

// Runs kv20-module-sim for a test: the simulated module's port is
// device_path() once start() succeeded. Every wait is bounded and waits on
// the process's own output, never on a fixed sleep.
class ModuleSimProcess
{
public:
    explicit ModuleSimProcess(const QStringList &args = {});
    ~ModuleSimProcess(); // stops it
    ModuleSimProcess(const ModuleSimProcess &) = delete;
    ModuleSimProcess &operator=(const ModuleSimProcess &) = delete;

    // Starts the simulator with the arguments and waits for the first line of
    // its stdout (the pty path).
    bool start(int timeout_ms = 5000);
    QString device_path() const;
    // SIGTERM, a bounded wait, then SIGKILL if it is still there.
    void stop();

    // Everything it logged on stderr so far.
    QByteArray stderr_log();
    // Waits until stderr contains needle; false on timeout or exit.
    bool wait_for_log(const QByteArray &needle, int timeout_ms);

    // For faults that make the module vanish by itself.
    bool wait_for_exit(int timeout_ms);
    bool running() const;
    int exit_code() const;
    QProcess::ExitStatus exit_status() const;

private:
    void collect_stderr();

    QStringList args_;
    QProcess process_;
    QString device_path_;
    QByteArray stderr_;
};
