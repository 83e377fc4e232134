#pragma once

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QString>

class XDisplay;

int count_of(const QByteArray &haystack, const QByteArray &needle);

// kv20-tool as its own process on an X display, started from a working
// directory of the test's choosing. Its debug output (stderr) is the record
// of what the window showed: "status: ...", "field: ...", "controls
// enabled: ...". Every wait is bounded and waits on that output.
class ToolProcess
{
public:
    ToolProcess() = default;
    ~ToolProcess();
    ToolProcess(const ToolProcess &) = delete;
    ToolProcess &operator=(const ToolProcess &) = delete;

    bool start(const XDisplay &display, const QString &sysfs_root, const QString &working_dir);
    // Waits for the tool to end by itself; true when it exited normally
    // within timeout_ms, with its exit code in *code.
    bool wait_for_exit(int timeout_ms, int *code);
    qint64 pid() const { return process.processId(); }
    bool running() const { return process.state() == QProcess::Running; }

    // Everything it traced so far; its size marks where what comes after an
    // action starts.
    QByteArray log();
    // Position of needle at or after `from`, waiting up to timeout_ms for it;
    // -1 on timeout or exit.
    int wait_for(const QByteArray &needle, int from, int timeout_ms);
    // Whether every needle is there after `from`, each after the one before;
    // when not, the trace is printed.
    bool shows_in_order(const QList<QByteArray> &needles, int from);
    int count(const QByteArray &needle, int from = 0) { return count_of(log().mid(from), needle); }

    // Whether the process has a descriptor open on the device (by path).
    bool holds(const QString &device_path) const;

private:
    QProcess process;
    QByteArray trace;
};
