#include "runner/module_session.h"

#include "journal/operation_record.h"
#include "worker/mpthread.h"

#include <QUuid>

ModuleSession::ModuleSession(const Target &target, const Request &request, const Journal &journal, QObject *parent)
    : QObject(parent)
    , target(target)
    , request(request)
    , worker(new MPThread(this))
{
    const QString port = target.port;
    const std::shared_ptr<ServedModules> served = request.served;
    const QByteArray sha256 = request.image_sha256;
    // The socket where the system names it (Windows gives a slot but no
    // USB device folder), else the port's name.
    const QString place = !target.place.isEmpty() ? target.place : !target.slot.isEmpty() ? target.slot : target.port;
    const QString slot = target.slot;
    const std::shared_ptr<DoneBefore> done_before = request.again != AgainPolicy::allow ? request.done_before : nullptr;
    worker->set_record_sink([journal, port, request, served, sha256, place, slot, done_before](OperationRecord record) {
        request.stamp(&record);
        record.port = port;
        record.slot = slot;
        // Known before the module can restart and come back.
        if (served && record.ok)
            served->add(ServedModules::key(record, sha256), place, ServedModules::now_ms());
        if (record.record_id.isEmpty())
            record.record_id = QUuid::createUuid().toString(QUuid::WithoutBraces);
        if (record.station.isEmpty())
            record.station = journal.station();
        const JournalOutcome kept = journal.append(record);
        if (done_before)
            done_before->add(record);
        return kept;
    });
    if (served || done_before) {
        const AgainPolicy again = request.again;
        worker->set_identity_check([served, sha256, place, done_before, again](OperationRecord &record) {
            using Verdict = MPThread::IdentityVerdict;
            if (served && served->contains(ServedModules::key(record, sha256), place, ServedModules::now_ms()))
                return Verdict::served_just_now;
            if (!done_before)
                return Verdict::serve;
            done_before->look_up(&record, sha256);
            return again == AgainPolicy::block && !record.earlier.record_id.isEmpty() ? Verdict::refused : Verdict::serve;
        });
    }
    worker->set_image_check(sha256);
    worker->keep_finished_operations();
    connect(worker, &MPThread::ui_set_progress_max, this, [this](int maximum) { total = maximum; });
    connect(worker, &MPThread::ui_set_progress, this, [this](int value) {
        // The last block is counted whole, padding included.
        emit progress(qMin<qint64>(value, total), total);
    });
    connect(worker, &MPThread::operation_finished, this, &ModuleSession::on_finished);
    connect(worker, &MPThread::port_opened, this, &ModuleSession::on_port_opened);
    open_retry.setSingleShot(true);
    connect(&open_retry, &QTimer::timeout, this, &ModuleSession::try_open);
}

void ModuleSession::Request::stamp(OperationRecord *record) const
{
    record->tool = tool;
    record->operator_id = operator_id;
    record->work_order = work_order;
    record->product = product;
    record->recipe_sha256 = recipe_sha256;
}

ModuleSession::~ModuleSession()
{
    worker->stop_and_wait();
}

void ModuleSession::start()
{
    arrived = QDateTime::currentDateTime();
    opening.start();
    worker->start();
    try_open();
}

// Never waits: many modules arriving at once each get their port opened
// and their operation run by their own worker thread.
void ModuleSession::try_open()
{
    phase = Phase::opening;
    worker->__start_flash(flash_parameter(),
                          request.cellular ? operation::set_cellular_kind : operation::set_wifi_kind);
    flash_parameter parameter;
    parameter.fs_path = request.image;
    parameter.fw_path = request.image;
    worker->open_serial_port_later(target.node, parameter, request.type);
}

void ModuleSession::on_port_opened(bool ok)
{
    if (ok) {
        phase = Phase::running;
    } else if (cancelled_while_opening != Failure::none) {
        give_up_opening(cancelled_while_opening);
    } else if (opening.elapsed() + open_retry_every_ms <= request.open_retry_ms) {
        phase = Phase::waiting_to_retry;
        open_retry.start(open_retry_every_ms);
    } else {
        give_up_opening(Failure::port_not_opened);
    }
}

void ModuleSession::give_up_opening(Failure why)
{
    phase = Phase::running;
    OperationRecord record = unstarted_operation(target.port, request.type, request.image, why);
    record.slot = target.slot;
    record.started = arrived;
    record.duration_ms = opening.elapsed();
    worker->post_record(record);
}

void ModuleSession::cancel(Failure why)
{
    switch (phase) {
    case Phase::opening:
        // Taken by the operation once the port is open; kept for the record
        // should it not open.
        cancelled_while_opening = why;
        worker->request_cancel(why);
        break;
    case Phase::waiting_to_retry:
        open_retry.stop();
        give_up_opening(why);
        break;
    default:
        worker->request_cancel(why);
    }
}

void ModuleSession::on_finished()
{
    const QList<MPThread::FinishedOperation> taken = worker->take_finished_operations();
    if (taken.isEmpty() || finished_)
        return;
    result = taken.first().record;
    result.port = target.port;
    request.stamp(&result);
    result.slot = target.slot;
    journal_result = taken.first().journal;
    // As the journal keeps it: what names the record elsewhere (a label,
    // the database) is the same.
    if (result.record_id.isEmpty())
        result.record_id = journal_result.record_id;
    if (result.station.isEmpty())
        result.station = journal_result.station;
    already_done_ = taken.first().already_done;
    finished_ = true;
    worker->close_serial_port();
    emit finished();
}
