#include "label/label_queue.h"

#include <QDateTime>
#include <QMetaObject>

#include <chrono>

LabelQueue::LabelQueue(const LabelSettings &settings, bool cellular, const QString &journal_folder,
                       std::unique_ptr<LabelPrinter> given)
    : settings(settings)
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
    // The thread has ended: what it did not print is as it left it.
    std::vector<OperationRecord> left(at_removal.begin(), at_removal.end());
    for (const Label &label : queue) {
        if (!label.journalled && !label.reprint)
            left.push_back(label.record);
    }
    for (const OperationRecord &record : left) {
        LabelEvent event;
        event.time = QDateTime::currentDateTime();
        event.printer = settings.printer_name;
        event.detail = QStringLiteral("the station closed before it printed");
        event.record = record;
        journal.append(event);
    }
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

void LabelQueue::finished(int module, const OperationRecord &record, bool already_done)
{
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
        at_removal.insert(module, record);
        state_.labels[record.record_id] = Status::at_removal;
    }
    changed();
}

void LabelQueue::departed(int module)
{
    OperationRecord record;
    {
        std::lock_guard<std::mutex> locker(mutex);
        if (!at_removal.contains(module))
            return;
        record = at_removal.take(module);
    }
    due({record, false, false});
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

LabelQueue::State LabelQueue::state() const
{
    std::lock_guard<std::mutex> locker(mutex);
    return state_;
}

void LabelQueue::run()
{
    auto ask_at = std::chrono::steady_clock::now();
    std::unique_lock<std::mutex> locker(mutex);
    for (;;) {
        wake.wait(locker, [&] { return stopping || !queue.empty(); });
        if (stopping)
            return;
        // The printer was away: asked again at its time, or at a stop.
        if (std::chrono::steady_clock::now() < ask_at) {
            wake.wait_until(locker, ask_at, [&] { return stopping; });
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
            ask_at = std::chrono::steady_clock::now() + std::chrono::milliseconds(retry_ms);
        }
        state_.waiting = int(queue.size());
        locker.unlock();
        changed();
        locker.lock();
    }
}
