#pragma once

#include "journal/journal.h"
#include "line/line_mode_view.h"
#include "runner/module_session.h"

#include <QList>
#include <QMap>
#include <QObject>
#include <QElapsedTimer>
#include <QTimer>

class PortChangeNotifier;
struct ModulePort;

// Line mode: every module port present, and every one that appears later,
// gets the request once per plug-in, each on its own worker thread; a module
// that had it done just now in the same place (one restarting after its
// update) is told apart by its identity and hears nothing more. A port counts
// as a new plug-in once it has been seen gone (a rescan without it, after a
// device-change event or the periodic rescan); its running operation is then
// cancelled as "unplugged". Runs until stop().
class LineMode : public QObject
{
    Q_OBJECT

public:
    LineMode(const ModuleSession::Request &request, int rescan_ms, const Journal &journal, QObject *parent = nullptr);
    ~LineMode() override;

    const ModuleSession::Request &request_served() const { return request; }
    QString journal_path() const { return journal.path(); }
    // Serves the modules present, then follows the port changes.
    void start(LineModeView *view);
    // Cancels every running operation; finished() follows once each has
    // kept its record.
    void stop();
    int records_not_in_journal() const { return not_in_journal; }
    // Some module is being served (or its record still being kept).
    bool serving() const;

signals:
    void finished();
    // A session's record went to the journal or its side file.
    void record_kept();

private:
    void rescan();
    // The port's node is not the one it had at its arrival.
    bool replaced(const QString &port, const QString &node);
    void arrive(const ModulePort &port);
    void depart(const QString &port);
    void on_session_finished(ModuleSession *session, int shown_as);
    void finish_if_idle();

    ModuleSession::Request request;
    Journal journal;
    LineModeView *view = nullptr;
    PortChangeNotifier *notifier = nullptr;
    QTimer rescan_timer;
    // A burst of device events (a hub of modules plugged in at once) makes
    // a rescan every burst_gap_ms, not one per event: a walk of the ports
    // costs more the more modules are present (15 ms at 128). A lone event
    // is followed at once.
    static constexpr int burst_gap_ms = 10;
    QTimer rescan_soon;
    QElapsedTimer last_rescan;
    // Ports present, by name: the session serving this plug-in, null once
    // it was served, what the view knows it by, and its node's stamp: a
    // module swapped for another faster than a rescan keeps the port's name
    // but not the stamp, and is a plug-in of its own.
    struct Plug
    {
        ModuleSession *session = nullptr;
        int shown_as = -1;
        QString stamp;
    };
    QMap<QString, Plug> present;
    // Operations cancelled because their port went, not yet ended.
    QList<ModuleSession *> leaving;
    int not_in_journal = 0;
    bool stopping = false;
};
