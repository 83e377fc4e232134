#include "line/line_mode.h"

#include "discovery/port_change_notifier.h"
#include "discovery/port_enumerator.h"
#include "discovery/port_rules.h"
#include "journal/operation_record.h"

LineMode::LineMode(const ModuleSession::Request &request, int rescan_ms, const Journal &journal, QObject *parent)
    : QObject(parent)
    , request(request)
    , journal(journal)
{
    rescan_timer.setInterval(rescan_ms);
    connect(&rescan_timer, &QTimer::timeout, this, &LineMode::rescan);
    rescan_soon.setSingleShot(true);
    connect(&rescan_soon, &QTimer::timeout, this, &LineMode::rescan);
}

// The sessions are children: each waits for its worker thread when it goes,
// and stop() has ended their operations by then.
LineMode::~LineMode() = default;

void LineMode::start(LineModeView *line_view)
{
    view = line_view;
    notifier = new PortChangeNotifier(this);
    connect(notifier, &PortChangeNotifier::ports_changed, &rescan_soon, [this] {
        if (!rescan_soon.isActive())
            rescan_soon.start(int(qMax<qint64>(0, burst_gap_ms - last_rescan.elapsed())));
    });
    if (!notifier->listening())
        view->notice(QStringLiteral("no device-change events: looking for modules every %1 ms")
                            .arg(rescan_timer.interval()));
    rescan();
    rescan_timer.start();
}

void LineMode::rescan()
{
    if (stopping)
        return;
    last_rescan.start();
    QMap<QString, ModulePort> found;
    for (const ModulePort &port : find_module_ports())
        found.insert(port.port, port);
    for (const QString &port : present.keys()) {
        if (!found.contains(port)) {
            depart(port);
        } else if (replaced(port, found.value(port).node)) {
            // The walk may have listed the old module a moment before its
            // node went: the new one is taken from a walk of its own.
            depart(port);
            found.remove(port);
            rescan_soon.start(0);
        }
    }
    for (auto it = found.cbegin(); it != found.cend(); ++it) {
        if (!present.contains(it.key()))
            arrive(it.value());
    }
}

bool LineMode::replaced(const QString &port, const QString &node)
{
    Plug &plug = present[port];
    const QString stamp = port_node_stamp(node);
    if (plug.stamp.isEmpty())
        plug.stamp = stamp;
    return !stamp.isEmpty() && stamp != plug.stamp;
}

void LineMode::arrive(const ModulePort &found)
{
    const QString &port = found.port;
    auto *session = new ModuleSession({port, found.node, found.usb_device, found.slot}, request, journal, this);
    const int shown_as = view->arrival(port, found.slot, operation_name(request.type));
    present.insert(port, {session, shown_as, port_node_stamp(found.node)});
    connect(session, &ModuleSession::progress, this,
            [this, shown_as](qint64 bytes, qint64 total) { view->progress(shown_as, bytes, total); });
    connect(session, &ModuleSession::finished, this,
            [this, session, shown_as] { on_session_finished(session, shown_as); });
    session->start();
}

void LineMode::depart(const QString &port)
{
    const Plug plug = present.take(port);
    if (plug.session) {
        plug.session->cancel(Failure::unplugged);
        leaving.append(plug.session);
    }
    view->departure(plug.shown_as);
}

void LineMode::on_session_finished(ModuleSession *session, int shown_as)
{
    const JournalOutcome &kept = session->journal_outcome();
    view->finished(shown_as, session->record(), session->already_done(), kept);
    not_in_journal += kept.in_journal ? 0 : 1;
    for (const QString &notice : kept.notices)
        view->notice(notice);
    emit record_kept();
    if (!leaving.removeOne(session)) {
        // Still plugged in: served, and not again until it has gone.
        for (Plug &plug : present) {
            if (plug.session == session)
                plug.session = nullptr;
        }
    }
    // Its worker thread ends once this signal has been delivered.
    session->deleteLater();
    finish_if_idle();
}

void LineMode::stop()
{
    if (stopping)
        return;
    stopping = true;
    rescan_timer.stop();
    for (const Plug &plug : qAsConst(present)) {
        if (plug.session)
            plug.session->cancel();
    }
    for (ModuleSession *session : qAsConst(leaving))
        session->cancel();
    finish_if_idle();
}

void LineMode::finish_if_idle()
{
    if (!stopping || !leaving.isEmpty())
        return;
    for (const Plug &plug : qAsConst(present)) {
        if (plug.session && !plug.session->done())
            return;
    }
    emit finished();
}

bool LineMode::serving() const
{
    if (!leaving.isEmpty())
        return true;
    for (const Plug &plug : present) {
        if (plug.session)
            return true;
    }
    return false;
}
