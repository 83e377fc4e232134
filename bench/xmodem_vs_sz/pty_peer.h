#pragma once

#include "tests/support/pty_pair.h"

#include <QProcess>
#include <QString>
#include <QStringList>

#include <array>
#include <atomic>
#include <thread>
#include <utility>
#include <vector>

// Copies bytes between pty masters in a thread of its own, one way per
// route (from fd, to fd), until stopped.
//
// With settle_ms > 0 a route's bytes wait until the other routes have carried
// nothing for that long: a line turn-around. lrzsz's rz flushes its input
// right after writing each ACK; a sender whose next frame arrives within
// microseconds of that ACK (possible on ptys, not on a real line) can lose it.
class PtyRelay
{
public:
    explicit PtyRelay(std::vector<std::pair<int, int>> routes, int settle_ms = 0);
    ~PtyRelay() { stop(); }

    void stop();
    // How often `byte` went along route `index`; valid once stopped.
    quint64 count(size_t index, unsigned char byte) const { return counts.at(index).at(byte); }

private:
    void run();
    bool write_all(int fd, const char *data, size_t size);

    std::vector<std::pair<int, int>> routes;
    int settle_ms;
    std::vector<std::array<quint64, 256>> counts;  // written by the relay thread only
    std::atomic_bool stopping {false};
    std::thread thread;
};

// An external program (lrzsz's rz or sz) whose stdin and stdout are two
// separate ptys: rz flushes its input right after its ACKs, and on a single
// pty for both directions that flush can take the last ACK with it.
class PtyProcess
{
public:
    ~PtyProcess();

    static QString find(const QString &name);  // full path, or empty
    // Starts program with args in dir; its stderr goes to a file there.
    bool start(const QString &program, const QStringList &args, const QString &dir);
    int input_fd() const { return in.master(); }    // written bytes reach its stdin
    int output_fd() const { return out.master(); }  // its output appears here
    bool wait_finished(int timeout_ms);
    int exit_code() const;  // -1 after a crash or while running
    QString stderr_text() const;

private:
    PtyPair in, out;
    QProcess process;
    QString log_path;
};
