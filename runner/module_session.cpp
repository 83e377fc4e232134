#include "runner/module_session.h"

#include "worker/mpthread.h"

ModuleSession::ModuleSession(const Target &target, const Request &request, const Journal &journal, QObject *parent)
    : QObject(parent)
    , target(target)
    , request(request)
    , worker(new MPThread(this))
{
    const QString port = target.port, tool = request.tool;
    worker->set_record_sink([journal, port, tool](OperationRecord record) {
        record.tool = tool;
        record.port = port;
        return journal.append(record);
    });
    worker->set_image_check(request.image_sha256);
    worker->keep_finished_operations();
    connect(worker, &MPThread::ui_set_progress_max, this, [this](int maximum) { total = maximum; });
    connect(worker, &MPThread::ui_set_progress, this, [this](int value) {
        // The last block is counted whole, padding included.
        emit progress(qMin<qint64>(value, total), total);
    });
    connect(worker, &MPThread::operation_finished, this, &ModuleSession::on_finished);
}

ModuleSession::~ModuleSession()
{
    worker->stop_and_wait();
}

void ModuleSession::start()
{
    worker->start();
    if (!worker->open_serial_port(target.node, QString())) {
        worker->post_record(
            unstarted_operation(target.port, request.type, request.image, QStringLiteral("port did not open")));
        return;
    }
    worker->__start_flash(flash_parameter(),
                          request.cellular ? operation::set_cellular_kind : operation::set_wifi_kind);
    flash_parameter parameter;
    parameter.fs_path = request.image;
    parameter.fw_path = request.image;
    worker->__start_flash(parameter, request.type);
}

void ModuleSession::cancel(const QString &detail)
{
    worker->request_cancel(detail);
}

void ModuleSession::on_finished()
{
    const QList<MPThread::FinishedOperation> taken = worker->take_finished_operations();
    if (taken.isEmpty() || finished_)
        return;
    result = taken.first().record;
    result.port = target.port;
    result.tool = request.tool;
    journal_result = taken.first().journal;
    finished_ = true;
    worker->close_serial_port();
    emit finished();
}
