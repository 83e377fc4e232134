#include "db/background_upload.h"

#include "db/db_command.h"
#include "db/db_log.h"
#include "db/db_schema.h"
#include "db/journal_upload.h"
#include "db/pg_link.h"

#include <QFileInfo>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

using Clock = std::chrono::steady_clock;

struct BackgroundUpload::Shared
{
    QString url, folder;
    std::mutex mutex;
    qint64 waiting = -1;
    QString problem;
    quint64 version = 0;
    std::condition_variable wake;
    bool added = false, stopping = false;
    Clock::time_point give_up_at;
    std::thread thread;

    bool give_up()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return stopping && Clock::now() >= give_up_at;
    }
    bool stop_asked()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return stopping;
    }

    // One pass over the station's journals; empty, or why it failed.
    QString pass(PgLink *link, qint64 *waiting)
    {
        QString problem;
        if (!link->connected()) {
            if (!link->connect(url, &problem) || !db_schema::check(link, &problem)) {
                link->disconnect();
                problem = QStringLiteral("database %1: %2").arg(PgLink::describe(url), problem);
            }
        }
        JournalUpload upload;
        upload.link = link;
        upload.database = PgLink::describe(url).toUtf8();
        upload.stop = [this] { return stop_asked(); };
        *waiting = 0;
        for (const QString &journal : station_journals(folder)) {
            UploadCounts counts;
            QString error;
            if (problem.isEmpty() && !upload.run(journal, &counts, &error))
                problem = QStringLiteral("%1: %2").arg(journal, error);
            *waiting += upload.waiting(journal);
        }
        return problem;
    }

    qint64 count_waiting() const
    {
        JournalUpload upload;
        upload.database = PgLink::describe(url).toUtf8();
        qint64 count = 0;
        for (const QString &journal : station_journals(folder))
            count += upload.waiting(journal);
        return count;
    }

    void run()
    {
        PgLink link([this] { return give_up(); });
        int pause_ms = first_pause_ms;
        for (;;) {
            qint64 now_waiting = 0;
            const QString problem = pass(&link, &now_waiting);
            std::unique_lock<std::mutex> lock(mutex);
            if (now_waiting != waiting || problem != this->problem) {
                waiting = now_waiting;
                this->problem = problem;
                ++version;
            }
            if (stopping)
                return;
            if (problem.isEmpty()) {
                pause_ms = first_pause_ms;
                wake.wait(lock, [this] { return added || stopping; });
            } else {
                // Records added meanwhile wait for the pause: a database
                // that is down is not asked again with every record.
                qCDebug(db_log) << "upload failed, next try in" << pause_ms << "ms:" << problem;
                wake.wait_for(lock, std::chrono::milliseconds(pause_ms), [this] { return stopping; });
                pause_ms = qMin(pause_ms * 2, max_pause_ms);
            }
            const bool unseen = added;
            added = false;
            if (stopping) {
                // A record kept just before the stop got no pass: counted
                // from the journals, so that the summary does not call it sent.
                if (unseen) {
                    lock.unlock();
                    const qint64 now_waiting = count_waiting();
                    lock.lock();
                    if (now_waiting != waiting) {
                        waiting = now_waiting;
                        ++version;
                    }
                }
                return;
            }
        }
    }
};

BackgroundUpload::BackgroundUpload(const QString &url, const QString &journal)
    : shared_(std::make_shared<Shared>())
{
    shared_->url = url;
    shared_->folder = QFileInfo(journal).absolutePath();
    shared_->thread = std::thread([shared = shared_] { shared->run(); });
}

BackgroundUpload::~BackgroundUpload()
{
    stop(2000);
}

void BackgroundUpload::record_added()
{
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->added = true;
    shared_->wake.notify_one();
}

void BackgroundUpload::state(qint64 *waiting, QString *problem, quint64 *version) const
{
    std::lock_guard<std::mutex> lock(shared_->mutex);
    *waiting = shared_->waiting;
    *problem = shared_->problem;
    *version = shared_->version;
}

void BackgroundUpload::stop(int wait_ms)
{
    {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        if (!shared_->stopping) {
            shared_->stopping = true;
            shared_->give_up_at = Clock::now() + std::chrono::milliseconds(wait_ms);
        }
        shared_->wake.notify_one();
    }
    // The link gives up at give_up_at, polling every 100 ms; a name lookup
    // in progress is the one wait it cannot cut short.
    if (shared_->thread.joinable())
        shared_->thread.join();
}
