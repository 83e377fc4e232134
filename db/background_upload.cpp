#include "db/background_upload.h"

#include "db/db_log.h"
#include "db/db_schema.h"
#include "db/journal_upload.h"
#include "db/label_upload.h"
#include "db/pg_link.h"
#include "db/station_journals.h"
#include "journal/label_journal.h"

#include <QFileInfo>
#include <QMetaObject>
#include <QObject>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

using Clock = std::chrono::steady_clock;

struct BackgroundUpload::Shared
{
    QString url, folder;
    mutable std::mutex mutex;
    State state;
    std::condition_variable wake, ended_cv;
    bool added = false, stopping = false, ended = false;
    bool sending = false;  // a batch on its way: the one wait a stop lets finish
    Clock::time_point give_up_at;
    std::thread thread;
    // Who is told of each new state, and how; cleared by stop().
    QObject *context = nullptr;
    const char *method = nullptr;

    // With the mutex held.
    void tell()
    {
        if (context && state.version > 0)
            QMetaObject::invokeMethod(context, method, Qt::QueuedConnection);
    }

    // A connect, a check or a count ends at once on a stop; a batch on its
    // way gets until the stop's deadline.
    bool give_up()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return stopping && (!sending || Clock::now() >= give_up_at);
    }
    bool stop_asked()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return stopping;
    }

    // Records waiting and rows unreadable in the station's journals, by
    // the journals alone; cut short by `stop`.
    void count(const std::function<bool()> &stop, qint64 *waiting, QStringList *unreadable) const
    {
        JournalUpload upload;
        upload.stop = stop;
        *waiting = 0;
        unreadable->clear();
        for (const QString &journal : station_journals(folder)) {
            qint64 records = 0;
            QStringList rows;
            upload.waiting(journal, &records, &rows);
            *waiting += records;
            *unreadable += rows;
        }
    }

    // One pass over the station's journals; empty, or why it failed.
    QString pass(PgLink *link, QByteArray *identity)
    {
        QString problem;
        if (!link->connected()) {
            if (!link->connect(url, &problem) || !db_schema::check(link, identity, &problem)) {
                link->disconnect();
                problem = QStringLiteral("database %1: %2").arg(PgLink::describe(url), problem);
            }
        }
        if (!problem.isEmpty())
            return problem;
        JournalUpload upload;
        upload.link = link;
        upload.database = *identity;
        upload.stop = [this] { return stop_asked(); };
        upload.sending = [this](bool on) {
            std::lock_guard<std::mutex> lock(mutex);
            sending = on;
        };
        LabelUpload labels;
        labels.link = link;
        labels.database = *identity;
        labels.stop = upload.stop;
        labels.sending = upload.sending;
        // The records first: a label's events name a pass already sent.
        QStringList files = station_journals(folder);
        const int label_files_from = files.size();
        files += LabelJournal::files_in(folder);
        for (int i = 0; i < files.size(); ++i) {
            UploadCounts counts;
            QString error;
            const bool sent = i < label_files_from ? upload.run(files[i], &counts, &error) : labels.run(files[i], &counts, &error);
            if (!sent)
                return link->connected() ? QStringLiteral("%1: %2").arg(files[i], error)
                                         : QStringLiteral("database %1: %2").arg(PgLink::describe(url), error);
        }
        return problem;
    }

    void show(qint64 waiting, const QStringList &unreadable, const QString &problem)
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (waiting == state.waiting && unreadable == state.unreadable && problem == state.problem)
            return;
        state.waiting = waiting;
        state.unreadable = unreadable;
        state.problem = problem;
        ++state.version;
        tell();
    }

    void run()
    {
        PgLink link([this] { return give_up(); });
        QByteArray identity;
        int pause_ms = first_pause_ms;
        for (;;) {
            const QString problem = pass(&link, &identity);
            qint64 waiting = 0;
            QStringList unreadable;
            count([this] { return stop_asked(); }, &waiting, &unreadable);
            show(waiting, unreadable, problem);
            std::unique_lock<std::mutex> lock(mutex);
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
                // from the journals, so that the summary does not call it
                // sent; by the deadline, as everything in a stop.
                lock.unlock();
                if (unseen) {
                    count([this] {
                        std::lock_guard<std::mutex> lock(mutex);
                        return Clock::now() >= give_up_at;
                    }, &waiting, &unreadable);
                    show(qMax(waiting, state_waiting()), unreadable, problem);
                }
                return;
            }
        }
    }

    qint64 state_waiting() const
    {
        std::lock_guard<std::mutex> lock(mutex);
        return state.waiting;
    }
};

BackgroundUpload::BackgroundUpload(const QString &url, const QString &journal)
    : shared_(std::make_shared<Shared>())
{
    shared_->url = url;
    shared_->folder = QFileInfo(journal).absolutePath();
    shared_->thread = std::thread([shared = shared_] {
        shared->run();
        std::lock_guard<std::mutex> lock(shared->mutex);
        shared->ended = true;
        shared->ended_cv.notify_all();
    });
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

void BackgroundUpload::notify(QObject *context, const char *method)
{
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->context = context;
    shared_->method = method;
    shared_->tell();
}

BackgroundUpload::State BackgroundUpload::state() const
{
    std::lock_guard<std::mutex> lock(shared_->mutex);
    return shared_->state;
}

void BackgroundUpload::stop_soon(int wait_ms)
{
    std::lock_guard<std::mutex> lock(shared_->mutex);
    if (!shared_->stopping) {
        shared_->stopping = true;
        shared_->give_up_at = Clock::now() + std::chrono::milliseconds(wait_ms);
    }
    shared_->wake.notify_one();
}

void BackgroundUpload::stop(int wait_ms)
{
    stop_soon(wait_ms);
    if (!shared_->thread.joinable())
        return;
    // Every wait of the thread's polls the deadline at least every 100 ms.
    std::unique_lock<std::mutex> lock(shared_->mutex);
    const bool ended = shared_->ended_cv.wait_until(lock, shared_->give_up_at + std::chrono::milliseconds(300),
                                                    [this] { return shared_->ended; });
    // A thread left to itself tells no one any more.
    shared_->context = nullptr;
    lock.unlock();
    if (ended) {
        shared_->thread.join();
    } else {
        qCDebug(db_log) << "upload still held at its deadline: left to end by itself";
        shared_->thread.detach();
    }
}
