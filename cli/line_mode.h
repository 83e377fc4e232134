#pragma once

#include "cli/cli_options.h"
#include "journal/journal.h"
#include "runner/module_session.h"

#include <QList>
#include <QMap>
#include <QObject>
#include <QTimer>

class LinePrinter;
class PortChangeNotifier;

// Line mode: every module port present, and every one that appears later,
// gets the chosen operation once per plug-in, each on its own worker thread.
// A port counts as a new plug-in once it has been seen gone (a rescan
// without it, after a device-change event or the periodic rescan); its
// running operation is then cancelled as "unplugged". Runs until stop().
class LineMode : public QObject
{
    Q_OBJECT

public:
    LineMode(const CliOptions &options, const Journal &journal, QObject *parent = nullptr);
    ~LineMode() override;

    // Reads the image once: its SHA-256 for the header and for every
    // download. False, with the journal's reason, when it cannot be sent.
    bool check_image(QString *reason);
    QString header() const;
    // Serves the modules present, then follows the port changes.
    void start(LinePrinter *printer);
    // Cancels every running operation; finished() follows once each has
    // kept its record.
    void stop();
    int records_not_in_journal() const { return not_in_journal; }

signals:
    void finished();

private:
    void rescan();
    void arrive(const QString &port, const QString &node);
    void depart(const QString &port);
    void on_session_finished(ModuleSession *session);
    void finish_if_idle();

    CliOptions options;
    Journal journal;
    QByteArray image_sha256;
    LinePrinter *printer = nullptr;
    PortChangeNotifier *notifier = nullptr;
    QTimer rescan_timer;
    // Ports present, by name; a null session: this plug-in was served.
    QMap<QString, ModuleSession *> present;
    // Operations cancelled because their port went, not yet ended.
    QList<ModuleSession *> leaving;
    int not_in_journal = 0;
    bool stopping = false;
};
