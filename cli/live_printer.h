#pragma once

#include "journal/operation_record.h"
#include "line/line_mode_view.h"

#include <QElapsedTimer>
#include <QList>
#include <QSet>
#include <QObject>
#include <QString>
#include <QTimer>

// What the operator or a script sees of the modules being served. On a
// terminal: a line per module redrawn in place, readable from a metre away;
// otherwise a line per event (progress at every tenth of the image, then the
// result), or JSON Lines. Line mode adds a header, the ports' arrivals and
// removals and a summary; the line of an unplugged port goes a few seconds
// later, so what is kept is bounded by the ports present, never by the
// number of modules served.
//
// A module is known by line mode's id, not by its port's name: a port name
// comes back with the next module, and a late result of the one before must
// not land on the new module's line. The counts are line mode's.
class LivePrinter : public QObject, public LineModeView
{
    Q_OBJECT

public:
    enum Mode { terminal, plain, json };
    // How long an unplugged port's line stays on the terminal.
    static constexpr int gone_line_ms = 3000;

    // With a header: line mode.
    LivePrinter(Mode mode, const QString &header = QString(), QObject *parent = nullptr);

    // A module arrives (line mode) or is to be served (the commands that
    // serve the modules named once).
    void arrival(int id, const QString &port, const QString &slot, const QString &operation) override;
    void progress(int id, qint64 bytes, qint64 total) override;
    // already_done: the module had the operation just now (back from its
    // update).
    void finished(int id, const OperationRecord &record, bool already_done, const JournalOutcome &kept) override;
    void departure(int id) override;
    void counts(const LineCounts &counts) override { shown = counts; }
    // A line for the operator outside the live lines (journal notices): on
    // standard error, above the live lines on a terminal.
    void notice(const QString &line) override;
    // Records in the journal the database does not have yet, the rows that
    // are no records (each named once), and why the last upload failed
    // (empty when it did not): in the summary, as JSON events, or lines of
    // their own.
    void backlog(const BackgroundUpload::State &state) override;
    // The final state; in line mode the summary, with the records that did
    // not reach the journal said when there are any.
    void finish();

private:
    struct Module
    {
        int id = 0;
        QString port;
        QString operation;
        qint64 bytes = 0;
        qint64 total = 0;
        int tenths_shown = 0;
        QElapsedTimer clock;  // from the first acknowledged block
        bool done = false, ok = false;
        QString result;
        QElapsedTimer gone;   // running once the port was unplugged
    };

    Module *find(int id);
    QString running_text(const Module &module) const;
    QString live_line(const Module &module) const;
    QString summary() const;
    void event(const QString &port, const char *name, const QString &plain_text);
    void redraw();
    void erase_live_lines();

    const Mode mode;
    const bool line_mode;
    const QString header;
    QList<Module> modules;
    LineCounts shown;
    qint64 waiting = -1;  // -1: no upload
    int unreadable_rows = 0;
    QSet<QString> rows_named;
    QElapsedTimer running;
    int lines_drawn = 0;
    QTimer redraw_timer;
};
