#pragma once

#include "tests/support/pty_pair.h"

#include <QByteArray>
#include <QList>
#include <QMap>

#include <atomic>
#include <mutex>
#include <thread>

// A device played by the test on a real pty: for every CR LF-terminated
// command it receives it sends the scripted bursts, each after its delay.
// Commands without a script get no answer.
class ScriptedModule
{
public:
    struct Burst
    {
        int delay_ms;
        QByteArray bytes;
    };

    ScriptedModule();
    ~ScriptedModule();

    QString port() const { return pty.slave_path(); }
    void reply(const QByteArray &command, const QByteArray &bytes);
    void reply_bursts(const QByteArray &command, const QList<Burst> &bursts);
    // Everything received so far, split into command lines.
    QList<QByteArray> commands();

private:
    void serve();

    PtyPair pty;
    std::mutex lock;
    QMap<QByteArray, QList<Burst>> script;
    QList<QByteArray> received;
    std::atomic_bool running {true};
    std::thread server;
};
