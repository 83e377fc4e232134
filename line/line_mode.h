#pragma once

#include "journal/journal.h"
#include "line/line_mode_view.h"
#include "line/port_source.h"
#include "runner/module_session.h"

#include <QElapsedTimer>
#include <QList>
#include <QMap>
#include <QObject>
#include <QTimer>

#include <memory>

class BackgroundUpload;

// The one engine under every front end that serves modules. Either
// - watch(): every module port present, and every one that appears later,
//   gets the request once per plug-in, each on its own worker thread; a
//   module that had it done just now in the same place (one restarting after
//   its update) is told apart by its identity and hears nothing more. A port
//   counts as a new plug-in once it has been seen gone (a walk without it)
//   or its node was made anew; its running operation is then cancelled as
//   "unplugged". Runs until stop().
// - serve(): the modules named, once each, at once; finished() when the last
//   has its record.
// It gives each module its id, counts the shift, passes the journal's notices
// on and, with upload_to(), keeps the database upload and tells its state.
class LineMode : public QObject
{
    Q_OBJECT

public:
    // How long the upload's batch in flight may go on once a stop is asked
    // for: the front end is gone within 2 s of it, whatever the database
    // does.
    static constexpr int upload_stop_ms = 1500;

    LineMode(const ModuleSession::Request &request, const Journal &journal, QObject *parent = nullptr);
    ~LineMode() override;

    QString journal_path() const { return journal.path(); }
    // Every record kept is uploaded to this database as well, on a thread of
    // its own: an operation never waits for the database. Before watch() or
    // serve().
    void upload_to(const QString &url);
    // Something else was kept beside the records (a label's event): the
    // upload goes over the folder again soon.
    void upload_soon();
    // Serves what `ports` finds now, then follows its changes, looking again
    // every rescan_ms besides.
    void watch(PortSource *ports, int rescan_ms, LineModeView *view);
    // Serves each target once. With `refused` set, the request cannot be
    // served (the image cannot be sent): each target gets a failed record
    // with it, and no module hears anything.
    void serve(const QList<ModuleSession::Target> &targets, LineModeView *view, Failure refused = Failure::none);
    // Cancels every running operation; finished() follows once each has
    // kept its record and the upload has had its time.
    void stop();
    // Who serves from now on: into the records of the modules that arrive
    // from now on. Empty: nobody; a module that arrives waits, untouched,
    // until someone is set (a station before its sign-in). Modules already
    // being served keep the operator they were started under.
    void set_operator(const QString &id);
    const LineCounts &counts() const { return counts_; }
    // Some module is being served (or its record still being kept).
    bool serving() const;

signals:
    void finished();
    // A session's record went to the journal or its side file.
    void record_kept();

private:
    // The upload's state changed: queued from its thread.
    Q_INVOKABLE void upload_changed();
    void rescan();
    void on_walked(const QList<FoundPort> &ports);
    ModuleSession *start_session(const ModuleSession::Target &target, int id);
    void arrive(const FoundPort &found);
    void depart(const QString &port);
    void on_session_finished(ModuleSession *session, int id);
    void count(const OperationRecord &record, bool already_done, const JournalOutcome &kept);
    void show_backlog(const BackgroundUpload::State &state);
    void finish_if_idle();

    ModuleSession::Request request;
    Journal journal;
    LineModeView *view = nullptr;
    PortSource *ports = nullptr;
    std::unique_ptr<BackgroundUpload> upload;
    quint64 backlog_shown = 0;
    QTimer rescan_timer;
    // A burst of device events (a hub of modules plugged in at once) makes
    // a walk every burst_gap_ms, not one per event: a walk of the ports
    // costs more the more modules are present (15 ms at 128). A lone event
    // is followed at once.
    static constexpr int burst_gap_ms = 10;
    QTimer rescan_soon;
    QElapsedTimer last_rescan;
    // Ports present, by name: the session serving this plug-in, null once
    // it was served, its id, and its node's stamp.
    struct Plug
    {
        ModuleSession *session = nullptr;
        int id = -1;
        QString stamp;
        // Arrived while nobody was signed in: served once someone is.
        bool held = false;
        ModuleSession::Target target {};
    };
    QMap<QString, Plug> present;
    // Sessions of serve(), and operations cancelled because their port
    // went, not yet ended.
    QList<ModuleSession *> unplaced;
    int next_id = 0;
    LineCounts counts_;
    QList<qint64> results_at;  // of the last hour, oldest first (a steady clock)
    QElapsedTimer clock;
    bool once = false;  // serve(): ends when the last target has its record
    bool holding = false;
    bool stopping = false, ended = false;
};
