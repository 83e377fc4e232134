#pragma once

#include <QString>
#include <QStringList>

#include <memory>

class QObject;

// Uploads a station's journal while the station works: on a thread and a
// database connection of its own, so that an operation never waits for the
// database. Each record_added() wakes it; what the database does not take
// (unreachable, refusing) stays in the journal, counted as waiting, and is
// tried again after a pause that doubles up to max_pause_ms. The position
// files make a record sent once, whoever sends it.
class BackgroundUpload
{
public:
    static constexpr int first_pause_ms = 1000;
    static constexpr int max_pause_ms = 60000;

    // As of the last attempt.
    struct State
    {
        qint64 waiting = -1;       // records not in the database yet; -1: not counted yet
        QStringList unreadable;    // rows that are no records: "<journal>: line N: <reason>"
        QString problem;           // why the last attempt failed; empty when it did not
        quint64 version = 0;       // counts the changes, so that a front end shows each once
    };

    BackgroundUpload(const QString &url, const QString &journal);
    // stop(2000) when not stopped yet.
    ~BackgroundUpload();
    BackgroundUpload(const BackgroundUpload &) = delete;
    BackgroundUpload &operator=(const BackgroundUpload &) = delete;

    void record_added();
    // Invokes `context`'s slot `method` (queued, in its thread) after every
    // change of state (and once at once, if there is one), until stop() has
    // returned: the front end is told, then reads state(). The call carries
    // nothing: the state crosses by this object's lock, which
    // ThreadSanitizer sees, not inside Qt's event queue, which it cannot.
    // `context` outlives stop().
    void notify(QObject *context, const char *method);
    // The state now: the last one, once stopped.
    State state() const;
    // Asks the upload to end: a batch in flight may finish until wait_ms
    // from now; what is not committed by then stays in the journal for the
    // next run. Later calls change nothing.
    void stop_soon(int wait_ms);
    // stop_soon(wait_ms), then waits for the end, never much past that
    // deadline: a thread still held (a host name being looked up, which
    // nothing can cut short) is left to end by itself.
    void stop(int wait_ms);

private:
    struct Shared;
    std::shared_ptr<Shared> shared_;
};
