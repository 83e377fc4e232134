#pragma once

#include "label/label_content.h"
#include "journal/label_journal.h"
#include "label/label_printer.h"
#include "label/label_settings.h"

#include <QHash>
#include <QPointer>
#include <QObject>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

// A station's labels: due when a passed module leaves its slot (or at once,
// [label] when=pass), kept in the label journal before they print, printed
// one at a time on a thread of its own, and, while the printer is away,
// asked again every retry_ms, so that a label prints once when it is back.
// Labels a restart found owed print first. Nothing prints for a failed or
// refused module, nor for one back from its update (no new record).
class LabelQueue
{
public:
    static constexpr int retry_ms = 2000;
    // A label owed longer than a shift when the station starts is given up,
    // not printed: its module is long gone, and a label nobody can match is
    // worse than none. The label journal says so, and the report lists it.
    static constexpr qint64 give_up_after_s = 12 * 3600;
    // A module restarts to apply an image: its port goes and comes back about
    // a second later, in the same slot, which is no removal. After a download
    // the module's departure holds its label this long; back in its slot
    // (its identity, nothing written: already done) it is the same module,
    // whose label prints when it leaves again. Another module in its place,
    // or none by then: it was pulled out, and the label is due.
    static constexpr int restart_wait_ms = 5000;
    // Both as the station runs them; KV20_LABEL_RETRY_MS and
    // KV20_LABEL_RESTART_WAIT_MS shorten them for tests.
    const int retry_after_ms;
    const int restart_hold_ms;

    enum class Status { at_removal, waiting, printed, reprinted };
    struct State
    {
        PrintResult problem;      // the printer's, as its last label found it
        int waiting = 0;          // due and not printed
        QString last_record_id;   // the label printed last
        // By the pass's record id, this run's and those owed. A container
        // copied whole: one shared with the queue's thread and changed there
        // would race with the window reading its copy.
        std::map<QString, Status> labels;
    };

    // `journal_folder`: where the records' journal is, and the label journal
    // beside it. The printer is [label]'s unless a test gives its own.
    LabelQueue(const LabelSettings &settings, bool cellular, const QString &journal_folder,
               std::unique_ptr<LabelPrinter> printer = nullptr);
    // Labels still waiting for their module to leave are due from now: kept
    // in the label journal, they print at the next start.
    ~LabelQueue();

    // Every module's result, from line mode.
    void finished(int module, const OperationRecord &record, bool already_done);
    void departed(int module);
    // Prints `record_id`'s label again (the last label printed, when empty),
    // marked as a reprint in the label journal; false when there is none.
    bool reprint(const QString &record_id = QString());

    State state() const;
    LabelContent content_of(const OperationRecord &record) const;
    // `method` of `context` is invoked, queued and without arguments, after
    // each change of the state.
    void notify(QObject *context, const char *method);

private:
    // A label that is owed, for the label journal: at `detail`, now.
    LabelEvent waiting_event(const OperationRecord &record, const QString &detail) const;

    struct Label
    {
        OperationRecord record;
        bool reprint = false;
        bool journalled = false;  // its waiting event is in the label journal
    };
    void due(Label label);
    void run();
    void changed();

    const LabelSettings settings;
    const bool cellular;
    const LabelJournal journal;
    std::unique_ptr<LabelPrinter> printer;

    mutable std::mutex mutex;
    std::condition_variable wake;
    std::deque<Label> queue;
    // Passes whose waiting event the thread is yet to write: a label is in
    // the label journal from its pass on, so that a station that dies before
    // its module leaves still owes it, and the report sees it unprinted.
    std::deque<OperationRecord> to_keep;
    struct AtRemoval
    {
        OperationRecord record;
        bool restarts = false;  // a download's: its next departure may be its restart
    };
    QHash<int, AtRemoval> at_removal;  // by module id
    struct Restarting
    {
        OperationRecord record;
        std::chrono::steady_clock::time_point until;
    };
    std::map<QString, Restarting> restarting;  // by its slot (else port)
    QHash<QString, OperationRecord> printed;  // what a reprint prints
    State state_;
    bool stopping = false;
    QPointer<QObject> context;
    QByteArray method;
    std::thread thread;
};
