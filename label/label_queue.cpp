#include "label/label_queue.h"

#include "interfaces/environment_wait.h"

#include <QDateTime>
#include <QMetaObject>

#include <chrono>

LabelQueue::LabelQueue(const LabelSettings &settings, bool cellular, const QString &journal_folder,
                       std::unique_ptr<LabelPrinter> given)
    : retry_after_ms(wait_from_environment("KV20_LABEL_RETRY_MS", retry_ms))
    , restart_hold_ms(wait_from_environment("KV20_LABEL_RESTART_WAIT_MS", restart_wait_ms))
    , settings(settings)
    , cellular(cellular)
    , journal(journal_folder)
    , printer(given ? std::move(given) : make_label_printer(settings))
{
    const QDateTime now = QDateTime::currentDateTime();
    for (LabelEvent owed : journal.owed()) {
        if (owed.time.secsTo(now) > give_up_after_s) {
            owed.kind = LabelEvent::given_up;
            owed.time = now;
            owed.detail = QStringLiteral("owed longer than %1 h").arg(give_up_after_s / 3600);
            journal.append(owed);
            continue;
        }
        queue.push_back({owed.record, false, true});
        state_.labels[owed.record.record_id] = Status::waiting;
    }
    state_.waiting = int(queue.size());
    thread = std::thread([this] { run(); });
}

LabelQueue::~LabelQueue()
{
    {
        std::lock_guard<std::mutex> locker(mutex);
        stopping = true;
    }
    wake.notify_all();
    thread.join();
    // The thread has ended: what it did not print is as it left it. Labels
    // waiting for their module are in the journal since their pass.
    std::vector<OperationRecord> left(to_keep.begin(), to_keep.end());
    for (const Label &label : queue) {
        if (!label.journalled && !label.reprint)
            left.push_back(label.record);
    }
    for (const OperationRecord &record : left)
        journal.append(waiting_event(record, QStringLiteral("the station closed before it printed")));
}

LabelContent LabelQueue::content_of(const OperationRecord &record) const
{
    return label_content(settings, record, cellular);
}

void LabelQueue::notify(QObject *to, const char *slot)
{
    std::lock_guard<std::mutex> locker(mutex);
    context = to;
    method = slot;
}

void LabelQueue::changed()
{
    QPointer<QObject> to;
    QByteArray slot;
    {
        std::lock_guard<std::mutex> locker(mutex);
        to = context;
        slot = method;
    }
    if (to)
        QMetaObject::invokeMethod(to, slot.constData(), Qt::QueuedConnection);
}

namespace {

QString place_of(const OperationRecord &record)
{
    return record.slot.isEmpty() ? record.port : record.slot;
}

} // namespace

void LabelQueue::finished(int module, const OperationRecord &record, bool already_done)
{
    {
        std::unique_lock<std::mutex> locker(mutex);
        // Line mode may see a quick restart as a new module without the old
        // one's departure: a label still waiting for a module that left its
        // place is the restart's, or the place's next module's.
        for (auto it = at_removal.begin(); it != at_removal.end(); ++it) {
            if (it.key() != module && place_of(it->record) == place_of(record)) {
                restarting[place_of(record)] = {it->record, std::chrono::steady_clock::now()};
                at_removal.erase(it);
                break;
            }
        }
        const auto back = restarting.find(place_of(record));
        if (back != restarting.end()) {
            const OperationRecord before = back->second.record;
            restarting.erase(back);
            if (already_done && record.device_number == before.device_number && record.imei_or_mac == before.imei_or_mac) {
                // Back from its restart: the same module, its label due as it leaves.
                at_removal.insert(module, {before, false});
                return;
            }
            // Another module in its place: the one before was pulled out.
            locker.unlock();
            due({before, false, true});
        }
    }
    // A module back from its update has no new record; a refused one was
    // not served; a failed one has nothing to be labelled with.
    if (already_done || !record.ok || record.record_id.isEmpty())
        return;
    if (settings.when == LabelSettings::When::pass) {
        due({record, false, false});
        return;
    }
    {
        std::lock_guard<std::mutex> locker(mutex);
        at_removal.insert(module, {record, record.operation != QLatin1String("query")});
        to_keep.push_back(record);
        state_.labels[record.record_id] = Status::at_removal;
    }
    wake.notify_all();
    changed();
}

void LabelQueue::departed(int module)
{
    AtRemoval left;
    {
        std::lock_guard<std::mutex> locker(mutex);
        if (!at_removal.contains(module))
            return;
        left = at_removal.take(module);
        if (left.restarts) {
            restarting[place_of(left.record)] = {left.record, std::chrono::steady_clock::now()
                                                                  + std::chrono::milliseconds(restart_hold_ms)};
        }
    }
    if (left.restarts)
        wake.notify_all();
    else
        due({left.record, false, true});
}

bool LabelQueue::reprint(const QString &record_id)
{
    OperationRecord record;
    {
        std::lock_guard<std::mutex> locker(mutex);
        const QString id = record_id.isEmpty() ? state_.last_record_id : record_id;
        if (!printed.contains(id))
            return false;
        record = printed.value(id);
    }
    due({record, true, false});
    return true;
}

void LabelQueue::due(Label label)
{
    {
        std::lock_guard<std::mutex> locker(mutex);
        if (stopping)
            return;
        queue.push_back(label);
        state_.waiting = int(queue.size());
        state_.labels[label.record.record_id] = Status::waiting;
    }
    wake.notify_all();
    changed();
}

LabelEvent LabelQueue::waiting_event(const OperationRecord &record, const QString &detail) const
{
    LabelEvent event;
    event.time = QDateTime::currentDateTime();
    event.printer = settings.printer_name;
    event.detail = detail;
    event.record = record;
    return event;
}

LabelQueue::State LabelQueue::state() const
{
    std::lock_guard<std::mutex> locker(mutex);
    return state_;
}

void LabelQueue::run()
{
    using Clock = std::chrono::steady_clock;
    auto ask_at = Clock::now();
    std::unique_lock<std::mutex> locker(mutex);
    while (!stopping) {
        const auto now = Clock::now();
        // A module not back from its restart in time was pulled out.
        auto wake_at = Clock::time_point::max();
        bool moved = false;
        for (auto it = restarting.begin(); it != restarting.end();) {
            if (it->second.until <= now) {
                queue.push_back({it->second.record, false, true});
                state_.labels[it->second.record.record_id] = Status::waiting;
                it = restarting.erase(it);
                moved = true;
            } else {
                wake_at = std::min(wake_at, it->second.until);
                ++it;
            }
        }
        if (!to_keep.empty()) {
            const OperationRecord record = to_keep.front();
            locker.unlock();
            journal.append(waiting_event(record, QStringLiteral("at its removal")));
            locker.lock();
            to_keep.pop_front();
            continue;
        }
        if (moved) {
            state_.waiting = int(queue.size());
            locker.unlock();
            changed();
            locker.lock();
            continue;
        }
        // The printer was away: asked again at its time.
        if (queue.empty() || now < ask_at) {
            if (!queue.empty())
                wake_at = std::min(wake_at, ask_at);
            if (wake_at == Clock::time_point::max())
                wake.wait(locker);
            else
                wake.wait_until(locker, wake_at);
            continue;
        }
        Label &front = queue.front();
        const bool keep_first = !front.journalled && !front.reprint;
        front.journalled = true;
        const Label label = front;
        locker.unlock();
        // Kept before it prints: a station that stops now prints it at its
        // next start rather than never.
        LabelEvent event;
        event.printer = settings.printer_name;
        event.record = label.record;
        if (keep_first) {
            event.time = QDateTime::currentDateTime();
            event.kind = LabelEvent::waiting;
            journal.append(event);
        }
        const PrintResult result = printer ? printer->print(content_of(label.record), label.record.record_id)
                                           : PrintResult {PrintResult::refused, QStringLiteral("no printer")};
        if (result.printed()) {
            event.time = QDateTime::currentDateTime();
            event.kind = label.reprint ? LabelEvent::reprinted : LabelEvent::printed;
            journal.append(event);
        }
        locker.lock();
        state_.problem = result;
        if (result.printed()) {
            queue.pop_front();
            printed.insert(label.record.record_id, label.record);
            state_.last_record_id = label.record.record_id;
            state_.labels[label.record.record_id] = label.reprint ? Status::reprinted : Status::printed;
        } else {
            ask_at = Clock::now() + std::chrono::milliseconds(retry_after_ms);
        }
        state_.waiting = int(queue.size());
        locker.unlock();
        changed();
        locker.lock();
    }
}
