#pragma once

#include "tests/support/pty_pair.h"

#include <QByteArray>
#include <QList>
#include <QMap>

#include <atomic>
#include <mutex>
#include <thread>

// A device played on a real pty: for every CR LF-terminated command it sends
// the scripted bursts, each after its delay. Unscripted commands get no answer.
class ScriptedModule
{
public:
    struct Burst
    {
        int delay_ms;
        QByteArray bytes;
    };

    ScriptedModule() : server([this] { serve(); }) {}
    ~ScriptedModule() { running = false; server.join(); }

    QString port() const { return pty.slave_path(); }
    void reply(const QByteArray &command, const QByteArray &bytes) { reply_bursts(command, {{0, bytes}}); }
    void reply_bursts(const QByteArray &command, const QList<Burst> &bursts)
    {
        std::lock_guard<std::mutex> guard(lock);
        script[command] = bursts;
    }
    // Every command line received so far.
    QList<QByteArray> commands()
    {
        std::lock_guard<std::mutex> guard(lock);
        return received;
    }

private:
    void serve();

    PtyPair pty;
    std::mutex lock;
    QMap<QByteArray, QList<Burst>> script;
    QList<QByteArray> received;
    std::atomic_bool running {true};
    std::thread server;
};
