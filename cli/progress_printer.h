#pragma once

#include "journal/operation_record.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

// What the operator or a script sees of several modules at once: on a
// terminal one line per module redrawn in place; otherwise a line per module
// at every tenth of the image, then the result lines; or JSON Lines.
class ProgressPrinter : public QObject
{
    Q_OBJECT

public:
    enum Mode { terminal, plain, json };

    explicit ProgressPrinter(Mode mode, QObject *parent = nullptr);

    int add_module(const QString &port, const QString &operation);
    void progress(int module, qint64 bytes, qint64 total);
    void result(int module, const OperationRecord &record);
    // Draws the final state and, on a terminal, the result lines under it.
    void finish();

private:
    struct Module
    {
        QString port;
        QString operation;
        qint64 bytes = 0;
        qint64 total = 0;
        int tenths_shown = 0;
        QElapsedTimer clock;  // from the first acknowledged block
        QString result;
    };

    QString status_line(const Module &module) const;
    void redraw();
    void write(const QByteArray &bytes);

    Mode mode;
    QList<Module> modules;
    int lines_drawn = 0;
    QTimer redraw_timer;
};
