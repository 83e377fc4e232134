#include "worker/mpthread.h"
#include "journal/operation_record.h"

#include "protocol/device_query.h"
#include "protocol/download_session.h"
#include "worker/worker_log.h"
#include "xmodem/xmodem_transmitter.h"

#include <chrono>

MPThread::MPThread(QObject *parent)
    : QThread(parent)
{
    // Data-arrival notifications of the port reach com_read_data, on the
    // worker thread, inside the link's own waits.
    link.set_arrival_handler([this] { com_read_data(); });
}

MPThread::~MPThread()
{
    // Destroying a running QThread aborts the process; the window stops the
    // worker first, this is the last guard.
    stop_and_wait();
}

void MPThread::stop_and_wait()
{
    request_stop();
    wait();
    std::lock_guard<std::mutex> finished(lifetime_mutex);
}

void MPThread::request_stop()
{
    stop.store(true, std::memory_order_release);
    link.request_stop();
    std::lock_guard<std::mutex> locker(command_mutex);
    command_posted.notify_all();
}

void MPThread::request_cancel(Failure why)
{
    std::lock_guard<std::mutex> locker(request_mutex);
    if (!request_pending.load(std::memory_order_acquire) && opens_awaited == 0)
        return;
    cancel_failure = why;
    link.request_cancel();
}

int MPThread::__start_flash(flash_parameter param, quint8 type)
{
    if (type <= operation::firmware_upgrade) {
        {
            std::lock_guard<std::mutex> locker(request_mutex);
            request = param;
            request_type = type;
            request_started = QDateTime::currentDateTime();
            request_clock.start();
        }
        request_pending.store(true, std::memory_order_release);
        // Taken at once rather than at the loop's next 20 ms turn.
        std::lock_guard<std::mutex> locker(command_mutex);
        command_posted.notify_all();
    } else if (type == operation::select_1k_blocks) {
        block_mode.store(0);
    } else if (type == operation::select_256_blocks) {
        block_mode.store(1);
    } else if (type > 128) {
        device_kind.store(type & 0x0F);
    }
    return 0;
}

bool MPThread::open_serial_port(QString port_name, QString)
{
    auto command = std::make_shared<LinkCommand>();
    command->kind = LinkCommand::open;
    command->port_name = port_name;
    return post_link_command(command);
}

void MPThread::open_serial_port_later(const QString &port_name, const flash_parameter &then, quint8 then_type)
{
    auto command = std::make_shared<LinkCommand>();
    command->kind = LinkCommand::open;
    command->port_name = port_name;
    command->announced = true;
    command->then = then;
    command->then_type = then_type;
    {
        std::lock_guard<std::mutex> locker(request_mutex);
        ++opens_awaited;
    }
    std::lock_guard<std::mutex> locker(command_mutex);
    link_commands.append(command);
    command_posted.notify_all();
}

// Posted here, on the worker thread, rather than by the front end: the loop
// drops whatever was posted before it began.
void MPThread::after_open_later(const LinkCommand &command, bool opened)
{
    // Posted before the open stops counting as awaited, so that a cancel
    // finds one or the other.
    if (opened)
        __start_flash(command.then, command.then_type);
    {
        std::lock_guard<std::mutex> locker(request_mutex);
        --opens_awaited;
        // A cancel made while the port was opening is the operation's, or,
        // with no operation, nobody's.
        if (!opened && !request_pending.load(std::memory_order_acquire))
            link.clear_cancel();
    }
    emit port_opened(opened);
}

void MPThread::close_serial_port()
{
    emit ui_debug(QStringLiteral("close serial port"));
    auto command = std::make_shared<LinkCommand>();
    command->kind = LinkCommand::close;
    post_link_command(command);
}

void MPThread::com_read_data()
{
    // Only the link's own waits on the worker thread deliver notifications.
    if (QThread::currentThread() == this)
        link.note_data_arrival();
}

bool MPThread::post_link_command(const std::shared_ptr<LinkCommand> &command)
{
    if (!isRunning() || stop.load(std::memory_order_acquire)) {
        qCDebug(worker_log) << "worker not running";
        return false;
    }
    std::unique_lock<std::mutex> locker(command_mutex);
    link_commands.append(command);
    command_posted.notify_all();
    const bool done = command_done.wait_for(locker, std::chrono::milliseconds(link_command_timeout_ms),
                                            [&] { return command->done; });
    if (!done) {
        // An open nobody waits for any more must not happen later behind the
        // window's back; a close still takes effect before the next open.
        qCDebug(worker_log) << "worker busy: serial port request not served in time";
        if (command->kind == LinkCommand::open)
            command->abandoned = true;
        return false;
    }
    return command->result;
}

void MPThread::serve_link_commands()
{
    std::unique_lock<std::mutex> locker(command_mutex);
    while (!link_commands.isEmpty()) {
        const std::shared_ptr<LinkCommand> command = link_commands.takeFirst();
        if (command->abandoned)
            continue;
        locker.unlock();
        bool result = true;
        if (command->kind == LinkCommand::open) {
            result = link.open(command->port_name);
            open_port_name = command->port_name;
        } else
            link.close();
        if (command->announced)
            after_open_later(*command, result);
        locker.lock();
        command->result = result;
        command->done = true;
        command_done.notify_all();
    }
}

void MPThread::idle_wait(unsigned long ms)
{
    std::unique_lock<std::mutex> locker(command_mutex);
    if (link_commands.isEmpty() && posted_records.isEmpty() && !stop.load(std::memory_order_acquire)
        && !request_pending.load(std::memory_order_acquire))
        command_posted.wait_for(locker, std::chrono::milliseconds(ms));
}

void MPThread::run()
{
    request_pending.store(false, std::memory_order_release);
    qCDebug(worker_log) << "run";
    while (!stop.load(std::memory_order_acquire)) {
        serve_link_commands();
        keep_posted_records();
        if (request_pending.load(std::memory_order_acquire))
            run_request();
        idle_wait(20);
    }
    // Answer whatever the window still waits for, then give the port back in
    // the thread that owns it.
    std::unique_lock<std::mutex> locker(command_mutex);
    for (const auto &command : qAsConst(link_commands)) {
        command->result = false;
        command->done = true;
    }
    link_commands.clear();
    command_done.notify_all();
    locker.unlock();
    keep_posted_records();
    link.release();
    std::lock_guard<std::mutex> finished(lifetime_mutex);
}

int MPThread::query_once()
{
    return device_kind.load() != 0 ? query_cellular_info() : query_device_info();
}

void MPThread::run_request()
{
    flash_parameter copy;
    quint8 type;
    OperationRecord record;
    {
        std::lock_guard<std::mutex> locker(request_mutex);
        copy = request;
        type = request_type;
        record.started = request_started;
    }
    record.port = open_port_name;
    record.operation = operation_name(type);
    record.image = image_path_for(copy, type);
    running_record = &record;

    emit burn_show(false);
    bool found = false;
    for (int attempt = 0; attempt < 5 && !found && !cancelled(); ++attempt)
        found = query_once() == 0;
    if (!found) {
        record.failure = Failure::no_reply;
        const JournalOutcome journal = keep_record(record);
        emit mac_done(false);
        end_request();
        hand_over(record, journal);
        return;
    }
    emit mac_done(true);

    const IdentityVerdict verdict = identity_check ? identity_check(record) : IdentityVerdict::serve;
    if (verdict == IdentityVerdict::refused) {
        record.failure = Failure::done_before;
        const JournalOutcome journal = keep_record(record);
        end_request();
        emit burn_done(false);
        hand_over(record, journal);
        return;
    }
    if (verdict == IdentityVerdict::served_just_now) {
        running_record = nullptr;
        record.ok = true;
        {
            std::lock_guard<std::mutex> locker(request_mutex);
            record.duration_ms = request_clock.elapsed();
        }
        end_request();
        JournalOutcome nothing_to_keep;
        nothing_to_keep.in_journal = true;
        hand_over(record, nothing_to_keep, true);
        return;
    }
    if (type == operation::device_query) {
        record.ok = true;
        const JournalOutcome journal = keep_record(record);
        end_request();
        emit burn_done(false);
        hand_over(record, journal);
        return;
    }
    const DownloadOutcome outcome = ::update_image(link, *this, copy, type, block_mode, image_check);
    record.ok = !outcome.failure;
    record.failure = outcome.failure;
    record.image_bytes = outcome.image_bytes;
    record.image_sha256 = outcome.image_sha256;
    const JournalOutcome journal = keep_record(record);
    if (record.ok) {
        emit burn_done(true);
    } else {
        emit burn_done(false);
        emit ui_set_status_text(tr("下载失败"), false);
    }
    end_request();
    hand_over(record, journal);
}

// The operation has ended: a cancel made for it goes with it.
void MPThread::end_request()
{
    std::lock_guard<std::mutex> locker(request_mutex);
    link.clear_cancel();
    request_pending.store(false, std::memory_order_release);
}

void MPThread::report_mac_text(const QString &value, quint8 type)
{
    // The journal keeps what this module said in this operation; a later
    // attempt that came back empty does not erase an earlier answer.
    // The line end a module sends after a value is not part of it.
    QString kept = value;
    while (kept.endsWith(QLatin1Char('\r')) || kept.endsWith(QLatin1Char('\n')))
        kept.chop(1);
    if (running_record && !kept.isEmpty()) {
        switch (type) {
        case field_ap_mac:
            running_record->imei_or_mac = kept;
            break;
        case field_sta_mac:
            running_record->device_version = kept;
            break;
        case field_v_version:
            running_record->iccid_or_audio_version = kept;
            break;
        default:
            running_record->device_number = kept;
            break;
        }
    }
    emit ui_set_mac_text(value, type);
}

// Ends the running operation's record and hands it to the sink, before the
// signals that let the operator start the next operation.
JournalOutcome MPThread::keep_record(OperationRecord &record)
{
    running_record = nullptr;
    {
        std::lock_guard<std::mutex> locker(request_mutex);
        record.duration_ms = request_clock.elapsed();
        if (!record.ok && stop.load(std::memory_order_acquire))
            record.failure = Failure::interrupted;
        else if (!record.ok && cancelled())
            record.failure = cancel_failure;
    }
    return sink_record(record);
}

JournalOutcome MPThread::sink_record(const OperationRecord &record)
{
    JournalOutcome outcome;
    outcome.in_journal = true;
    if (record_sink)
        outcome = record_sink(record);
    for (const QString &notice : qAsConst(outcome.notices))
        emit ui_debug(notice);
    return outcome;
}

void MPThread::hand_over(const OperationRecord &record, const JournalOutcome &journal, bool already_done)
{
    if (keeping_finished) {
        std::lock_guard<std::mutex> locker(finished_mutex);
        finished_operations.append({record, journal, already_done});
    }
    emit operation_finished();
}

int MPThread::finished_operations_waiting()
{
    std::lock_guard<std::mutex> locker(finished_mutex);
    return finished_operations.size();
}

QList<MPThread::FinishedOperation> MPThread::take_finished_operations()
{
    std::lock_guard<std::mutex> locker(finished_mutex);
    QList<FinishedOperation> taken;
    taken.swap(finished_operations);
    return taken;
}

void MPThread::post_record(const OperationRecord &record)
{
    std::lock_guard<std::mutex> locker(command_mutex);
    posted_records.append(record);
    command_posted.notify_all();
}

void MPThread::keep_posted_records()
{
    std::unique_lock<std::mutex> locker(command_mutex);
    while (!posted_records.isEmpty()) {
        OperationRecord record = posted_records.takeFirst();
        locker.unlock();
        hand_over(record, sink_record(record));
        locker.lock();
    }
}

int MPThread::query_device_info()
{
    return query_wifi_module(link, *this);
}

int MPThread::query_cellular_info()
{
    return query_cellular_module(link, *this);
}

int MPThread::update_image(flash_parameter request, quint8 type)
{
    return ::update_image(link, *this, request, type, block_mode).failure ? -1 : 0;
}

int MPThread::download_image(flash_parameter request, quint8 type)
{
    return ::download_image(link, *this, request, type, block_mode).failure ? -1 : 0;
}

int MPThread::xmodem_transmit(const char *image, qint32 length, quint8 synced)
{
    return ::xmodem_transmit(link, *this, image, length, synced, block_mode);
}
