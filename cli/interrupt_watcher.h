#pragma once

#include <QObject>

// Turns SIGINT, SIGTERM and SIGHUP (on Windows: Ctrl-C, Ctrl-Break, console close)
// into a signal in the thread that made the watcher, so that running
// operations can be cancelled cleanly instead of the process dying with the
// modules still waiting. One watcher per process.
class InterruptWatcher : public QObject
{
    Q_OBJECT

public:
    explicit InterruptWatcher(QObject *parent = nullptr);
    ~InterruptWatcher() override;

    // What ends a run besides the signals (an output that went away) ends it
    // the same way: interrupted(exit_code), from the event loop.
    void end_run(int exit_code)
    {
        QMetaObject::invokeMethod(this, [this, exit_code] { emit interrupted(exit_code); }, Qt::QueuedConnection);
    }

signals:
    // exit_code: 130 for an interrupt (Ctrl-C), 143 for a termination, 129
    // for a hang-up (the remote session that started the program dropped).
    void interrupted(int exit_code);

private:
    struct Platform;
    Platform *platform;
};
