#pragma once

#include <QString>

#include <functional>
#include <memory>

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

    BackgroundUpload(const QString &url, const QString &journal);
    // stop(2000) when not stopped yet.
    ~BackgroundUpload();
    BackgroundUpload(const BackgroundUpload &) = delete;
    BackgroundUpload &operator=(const BackgroundUpload &) = delete;

    void record_added();
    // The records waiting and why the last attempt failed (empty when it did
    // not), as of the last attempt; `*version` counts the changes, so that
    // a front end polling it shows each change once.
    void state(qint64 *waiting, QString *problem, quint64 *version) const;
    // Lets a batch in flight finish for at most wait_ms, then ends; what is
    // not committed by then stays in the journal for the next run.
    void stop(int wait_ms);

private:
    struct Shared;
    std::shared_ptr<Shared> shared_;
};
