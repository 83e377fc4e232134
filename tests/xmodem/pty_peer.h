#pragma once

#include "tests/support/pty_pair.h"

#include <QProcess>
#include <QString>
#include <QStringList>

#include <array>
#include <thread>
#include <utility>
#include <vector>

// Copies bytes between pty masters in a thread of its own, one way per
// route, until stopped.
//
// With settle_ms > 0, bytes on one route wait until the other routes have
// carried nothing for that long: a line turn-around. lrzsz's rz flushes its
// input right after writing each ACK; a sender whose next bytes arrive
// within microseconds of that ACK (possible on ptys, not on a real line,
// where a frame takes milliseconds) can lose them to the flush.
class PtyRelay
{
public:
    explicit PtyRelay(std::vector<std::pair<int, int>> routes, int settle_ms = 0);  // (from fd, to fd)
    ~PtyRelay();
    PtyRelay(const PtyRelay &) = delete;
    PtyRelay &operator=(const PtyRelay &) = delete;

    void stop();
    // How often `byte` went along route `index`; valid once stopped.
    quint64 count(size_t index, unsigned char byte) const { return counts.at(index).at(byte); }

private:
    void run();
    bool write_all(int fd, const char *data, size_t size);

    std::vector<std::pair<int, int>> routes;
    int settle_ms;
    std::vector<std::array<quint64, 256>> counts;  // written by the relay thread only
    int wake[2] = {-1, -1};
    std::thread thread;
};

// An external program (lrzsz's rz or sz) whose stdin and stdout are two
// separate ptys. rz flushes the line right after its ACKs; on a single pty
// for both directions that flush can take the last ACK with it.
class PtyProcess
{
public:
    PtyProcess() = default;
    ~PtyProcess();
    PtyProcess(const PtyProcess &) = delete;
    PtyProcess &operator=(const PtyProcess &) = delete;

    // Full path of an installed program, or empty.
    static QString find(const QString &name);

    // Starts program with args in dir; its stderr goes to a file there.
    bool start(const QString &program, const QStringList &args, const QString &dir);
    int input_fd() const { return in.master(); }    // written bytes reach the program's stdin
    int output_fd() const { return out.master(); }  // the program's output appears here
    bool wait_finished(int timeout_ms);
    // Exit code of a normal exit, -1 after a crash or while running.
    int exit_code() const;
    QString stderr_text() const;

private:
    PtyPair in;
    PtyPair out;
    QProcess process;
    QString log_path;
};
