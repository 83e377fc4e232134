#include "tests/support/worker_event_log.h"

#include "worker/mpthread.h"

#include <QCoreApplication>
#include <QElapsedTimer>

namespace {
QString flag(bool on)
{
    return on ? QStringLiteral("true") : QStringLiteral("false");
}
}

WorkerEventLog::WorkerEventLog(MPThread *w)
{
    connect(w, &MPThread::burn_show, this, [this](bool on) { events << QStringLiteral("burn_show:") + flag(on); });
    connect(w, &MPThread::mac_done, this, [this](bool ok) { events << QStringLiteral("mac_done:") + flag(ok); });
    connect(w, &MPThread::burn_done, this, [this](bool ok) { events << QStringLiteral("burn_done:") + flag(ok); });
    connect(w, &MPThread::ui_set_status_text, this, [this](const QString &s, bool ok) {
        events << QStringLiteral("status:%1:%2").arg(s, flag(ok));
    });
    connect(w, &MPThread::ui_set_mac_text, this,
            [this](const QString &v, quint8 t) { events << QStringLiteral("field:%1:%2").arg(t).arg(v); });
    connect(w, &MPThread::ui_debug, this, [this](const QString &s) { events << QStringLiteral("debug:") + s; });
    connect(w, &MPThread::ui_set_progress_max, this,
            [this](int n) { events << QStringLiteral("max:%1").arg(n); });
    connect(w, &MPThread::ui_set_progress, this,
            [this](int n) { events << QStringLiteral("progress:%1").arg(n); });
}

bool WorkerEventLog::wait_for(const QString &event, int timeout_ms)
{
    QElapsedTimer timer;
    timer.start();
    while (!events.contains(event)) {
        if (timer.elapsed() > timeout_ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    }
    return true;
}

QStringList WorkerEventLog::from(const QString &event) const
{
    const int at = events.indexOf(event);
    return at < 0 ? QStringList() : events.mid(at);
}

QStringList WorkerEventLog::of_kind(const QString &kind) const
{
    QStringList out;
    const QString prefix = kind + QLatin1Char(':');
    for (const QString &e : events)
        if (e.startsWith(prefix))
            out << e.mid(prefix.size());
    return out;
}
