#pragma once

#include "journal/operation_record.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

// What line mode shows. On a terminal: a header, a line per port present
// (what it is doing, then its result in green or red, readable from a metre
// away) and a summary line, redrawn in place; the line of an unplugged port
// goes a few seconds later. Otherwise a line per event, or JSON Lines.
// What it keeps is bounded by the ports present, never by the number of
// modules served.
class LinePrinter : public QObject
{
    Q_OBJECT

public:
    enum Mode { terminal, plain, json };
    // How long an unplugged port's line stays on the terminal.
    static constexpr int gone_line_ms = 3000;

    LinePrinter(Mode mode, const QString &header, QObject *parent = nullptr);

    void arrival(const QString &port, const QString &operation);
    void progress(const QString &port, qint64 bytes, qint64 total);
    void result(const OperationRecord &record);
    void removal(const QString &port);
    // A line for the operator outside the live lines (journal notices): on
    // standard error, above the live lines on a terminal.
    void notice(const QString &line);
    // The summary; records_not_in_journal is said when not 0.
    void finish(int records_not_in_journal);

private:
    struct Port
    {
        QString name;
        QString operation;
        qint64 bytes = 0;
        qint64 total = 0;
        int tenths_shown = 0;
        QElapsedTimer clock;  // from the first acknowledged block
        bool done = false, ok = false;
        QString result;
        QElapsedTimer gone;   // running once the port was unplugged
    };

    Port *find(const QString &name);
    QString port_line(const Port &port) const;
    QString summary() const;
    void redraw();
    void erase_live_lines();

    Mode mode;
    QString header;
    QList<Port> ports;
    int served = 0, ok = 0, failed = 0;
    QElapsedTimer running;
    int lines_drawn = 0;
    QTimer redraw_timer;
};
