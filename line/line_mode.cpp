#include "line/line_mode.h"

#include "db/background_upload.h"
#include "journal/operation_record.h"

namespace {

constexpr qint64 hour_ms = 3600 * 1000;

} // namespace

LineMode::LineMode(const ModuleSession::Request &request, const Journal &journal, QObject *parent)
    : QObject(parent)
    , request(request)
    , journal(journal)
{
    clock.start();
    connect(&rescan_timer, &QTimer::timeout, this, &LineMode::rescan);
    rescan_soon.setSingleShot(true);
    connect(&rescan_soon, &QTimer::timeout, this, &LineMode::rescan);
}

// The sessions are children: each waits for its worker thread when it goes,
// and stop() has ended their operations by then. The upload is stopped by
// its own destructor, within its bound.
LineMode::~LineMode() = default;

void LineMode::upload_to(const QString &url)
{
    upload = std::make_unique<BackgroundUpload>(url, journal.path());
    upload->notify(this, "upload_changed");
    connect(this, &LineMode::record_kept, this, [this] { upload->record_added(); });
}

void LineMode::upload_soon()
{
    if (upload)
        upload->record_added();
}

void LineMode::watch(PortSource *port_source, int rescan_ms, LineModeView *line_view)
{
    view = line_view;
    ports = port_source;
    view->counts(counts_);
    connect(ports, &PortSource::walked, this, &LineMode::on_walked);
    connect(ports, &PortSource::changed, this, [this] {
        if (!rescan_soon.isActive())
            rescan_soon.start(int(qMax<qint64>(0, burst_gap_ms - last_rescan.elapsed())));
    });
    if (!ports->follow_changes())
        view->notice(QStringLiteral("no device-change events: looking for modules every %1 ms").arg(rescan_ms));
    rescan();
    rescan_timer.start(rescan_ms);
}

void LineMode::serve(const QList<ModuleSession::Target> &targets, LineModeView *line_view, Failure refused)
{
    view = line_view;
    view->counts(counts_);
    for (const ModuleSession::Target &target : targets) {
        const int id = next_id++;
        view->arrival(id, target.port, target.slot, operation_name(request.type));
        if (refused == Failure::none) {
            unplaced.append(start_session(target, id));
            continue;
        }
        OperationRecord record = unstarted_operation(target.port, request.type, request.image, refused);
        request.stamp(&record);
        record.slot = target.slot;
        const JournalOutcome kept = journal.append(record);
        view->finished(id, record, false, kept);
        count(record, false, kept);
        emit record_kept();
    }
    // Ends once every target has its record; with none running, once the
    // caller's event loop runs.
    once = true;
    QMetaObject::invokeMethod(this, &LineMode::finish_if_idle, Qt::QueuedConnection);
}

void LineMode::rescan()
{
    if (stopping)
        return;
    last_rescan.start();
    ports->walk();
}

void LineMode::on_walked(const QList<FoundPort> &walked)
{
    if (stopping)
        return;
    QMap<QString, FoundPort> found;
    for (const FoundPort &port : walked)
        found.insert(port.port.port, port);
    for (const QString &port : present.keys()) {
        const auto now = found.constFind(port);
        QString &stamp = present[port].stamp;
        // A node not made yet at the arrival is stamped at the first walk
        // that finds it.
        if (now != found.cend() && stamp.isEmpty())
            stamp = now->stamp;
        if (now == found.cend()) {
            depart(port);
        } else if (!now->stamp.isEmpty() && now->stamp != stamp) {
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

ModuleSession *LineMode::start_session(const ModuleSession::Target &target, int id)
{
    auto *session = new ModuleSession(target, request, journal, this);
    connect(session, &ModuleSession::progress, this,
            [this, id](qint64 bytes, qint64 total) { view->progress(id, bytes, total); });
    connect(session, &ModuleSession::finished, this, [this, session, id] { on_session_finished(session, id); });
    session->start();
    return session;
}

void LineMode::arrive(const FoundPort &found)
{
    const ModulePort &port = found.port;
    const int id = next_id++;
    const ModuleSession::Target target {port.port, port.node, port.usb_device, port.slot};
    if (holding) {
        present.insert(port.port, {nullptr, id, found.stamp, true, target});
        return;
    }
    view->arrival(id, port.port, port.slot, operation_name(request.type));
    present.insert(port.port, {start_session(target, id), id, found.stamp, false, target});
}

void LineMode::set_operator(const QString &id)
{
    request.operator_id = id;
    holding = id.isEmpty();
    if (holding || stopping || !view)
        return;
    for (Plug &plug : present) {
        if (!plug.held)
            continue;
        plug.held = false;
        view->arrival(plug.id, plug.target.port, plug.target.slot, operation_name(request.type));
        plug.session = start_session(plug.target, plug.id);
    }
}

void LineMode::depart(const QString &port)
{
    const Plug plug = present.take(port);
    if (plug.session) {
        plug.session->cancel(Failure::unplugged);
        unplaced.append(plug.session);
    }
    // A module that waited for a sign-in was never shown.
    if (!plug.held)
        view->departure(plug.id);
}

void LineMode::on_session_finished(ModuleSession *session, int id)
{
    const JournalOutcome &kept = session->journal_outcome();
    view->finished(id, session->record(), session->already_done(), kept);
    count(session->record(), session->already_done(), kept);
    for (const QString &notice : kept.notices)
        view->notice(notice);
    emit record_kept();
    if (!unplaced.removeOne(session)) {
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

void LineMode::count(const OperationRecord &record, bool already_done, const JournalOutcome &kept)
{
    if (already_done) {
        ++counts_.already_done;
    } else if (record.failure.kind == Failure::done_before) {
        ++counts_.refused;
    } else {
        counts_.again += record.ok && !record.earlier.record_id.isEmpty() ? 1 : 0;
        ++(record.ok ? counts_.ok : counts_.failed);
        results_at.append(clock.elapsed());
    }
    counts_.not_in_journal += kept.in_journal ? 0 : 1;
    while (!results_at.isEmpty() && results_at.first() <= clock.elapsed() - hour_ms)
        results_at.removeFirst();
    counts_.last_hour = results_at.size();
    view->counts(counts_);
}

void LineMode::upload_changed()
{
    if (upload)
        show_backlog(upload->state());
}

void LineMode::show_backlog(const BackgroundUpload::State &state)
{
    if (state.version == backlog_shown || !view)
        return;
    backlog_shown = state.version;
    view->backlog(state);
}

void LineMode::stop()
{
    if (stopping)
        return;
    stopping = true;
    rescan_timer.stop();
    rescan_soon.stop();
    if (upload)
        upload->stop_soon(upload_stop_ms);
    for (const Plug &plug : qAsConst(present)) {
        if (plug.session)
            plug.session->cancel();
    }
    for (ModuleSession *session : qAsConst(unplaced))
        session->cancel();
    finish_if_idle();
}

void LineMode::finish_if_idle()
{
    if (!(stopping || once) || ended || serving())
        return;
    ended = true;
    // A batch in flight gets its time; what is not sent waits for the next
    // run. The state it ends with is the one shown last.
    if (upload) {
        upload->stop(upload_stop_ms);
        show_backlog(upload->state());
    }
    emit finished();
}

bool LineMode::serving() const
{
    if (!unplaced.isEmpty())
        return true;
    for (const Plug &plug : present) {
        if (plug.session)
            return true;
    }
    return false;
}
