#pragma once

#include "interfaces/worker_reports.h"

#include <QList>
#include <QString>
#include <QStringList>

// Keeps every report of a conversation, in order, as one line each:
// "status:<text>:<ok>", "field:<type>:<value>", "debug:<line>",
// "progress:<n>", "max:<n>".
class ReportRecorder : public WorkerReports
{
public:
    QStringList events;
    QList<int> progress;

    QStringList of_kind(const QString &kind) const
    {
        QStringList out;
        for (const QString &e : events)
            if (e.startsWith(kind + QLatin1Char(':')))
                out << e.mid(kind.size() + 1);
        return out;
    }
    void report_progress(int n) override { progress << n, events << QStringLiteral("progress:%1").arg(n); }
    void report_progress_max(int n) override { events << QStringLiteral("max:%1").arg(n); }
    void report_debug(const QString &line) override { events << QStringLiteral("debug:") + line; }
    void report_status(const QString &text, bool ok) override { events << QStringLiteral("status:%1:%2").arg(text).arg(ok); }
    void report_mac_text(const QString &value, quint8 type) override
    {
        events << QStringLiteral("field:%1:%2").arg(type).arg(value);
    }
};
