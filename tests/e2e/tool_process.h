#pragma once

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>

// Sanitizer options for a Qt application on the X server, derived from the
// suite's own.
void use_x11_sanitizer_options(QProcessEnvironment &env);

// kv20-tool as its own process on an X display, started from a working
// directory of the test's choosing. Its debug output (stderr) is the record
// of what the window showed: "status: ...", "field: ...", "controls
// enabled: ...". Every wait is bounded and waits on that output.
class ToolProcess
{
public:
    ToolProcess() = default;
    ~ToolProcess(); // stops it
    ToolProcess(const ToolProcess &) = delete;
    ToolProcess &operator=(const ToolProcess &) = delete;

    bool start(const QString &display, const QString &sysfs_root, const QString &working_dir);
    void stop();
    // Waits for the tool to end by itself; true when it exited normally
    // within timeout_ms, with its exit code in *code.
    bool wait_for_exit(int timeout_ms, int *code);
    qint64 pid() const { return process.processId(); }
    bool running() const { return process.state() == QProcess::Running; }

    // Everything it traced so far.
    QByteArray log();
    // Where the next trace line will start: waits and searches can begin
    // there to see only what came after an action.
    int mark();
    // Position of needle at or after `from`, waiting up to timeout_ms for it;
    // -1 on timeout or exit.
    int wait_for(const QByteArray &needle, int from, int timeout_ms);
    // Positions of every needle in this order, each after the one before;
    // empty when one is missing.
    QList<int> in_order(const QList<QByteArray> &needles, int from);
    int count(const QByteArray &needle, int from = 0);

    // Whether the process has a descriptor open on the device (by path).
    bool holds(const QString &device_path) const;

private:
    void collect();

    QProcess process;
    QByteArray trace;
};
