#pragma once

#include "app/dialog.h"

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

// Drives the real window the way an operator does, against a module
// simulator started afresh for each operation behind one fixed port name (as
// a module plugged into the same socket). Each operation is chosen in the
// operation list and started with the action button.
class WindowOperator
{
public:
    struct Operation
    {
        const char *name;
        const char *variant;
        quint8 kind;  // device kind sent to the worker before the operation
        const char *selector_text;
        bool download;
    };
    static const Operation wifi_query;
    static const Operation cellular_query;
    static const Operation audio_replacement;
    static const Operation firmware_upgrade;

    struct Outcome
    {
        bool started = false;  // the simulator came up
        bool ended = false;    // the window told its end within the time-out
        QString status;        // the status line at the end
        QString reason;        // for "下载失败", the status shown before it
        qint64 elapsed_ms = -1;
        bool controls_enabled = false;
        bool port_closed = false;
    };

    // Images of image_size bytes are written for both image paths.
    explicit WindowOperator(int image_size = 3000);
    ~WindowOperator();
    bool ok() const { return dialog != nullptr; }

    Outcome run(const Operation &op, const QStringList &sim_args, int timeout_ms);
    static QString success_status(const Operation &op);
    Dialog &window() { return *dialog; }

private:
    QTemporaryDir dir;
    QString port_link;
    QString previous_dir;
    std::unique_ptr<Dialog> dialog;
    // What the worker told the window during the current operation.
    QStringList statuses;
    bool ended = false;
    bool download = false;
};
