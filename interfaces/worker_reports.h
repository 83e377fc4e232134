#pragma once

#include <QString>
#include <QtGlobal>

// What a conversation reports while it runs. MPThread forwards each call to
// its signal of the same meaning; tests and fuzz targets record them.
class WorkerReports
{
public:
    virtual ~WorkerReports() = default;

    virtual void report_progress(int bytes_sent) = 0;          // ui_set_progress
    virtual void report_progress_max(int image_length) = 0;    // ui_set_progress_max
    virtual void report_debug(const QString &line) = 0;        // ui_debug (log pane)
    virtual void report_status(const QString &text, bool ok) = 0;        // ui_set_status_text
    virtual void report_mac_text(const QString &value, quint8 type) = 0;  // ui_set_mac_text
};
