#include "cli/module_session.h"

#include "worker/mpthread.h"

ModuleSession::ModuleSession(const Target &target, quint8 operation_type, const QString &image, bool cellular,
                             const Journal &journal, QObject *parent)
    : QObject(parent)
    , target(target)
    , type(operation_type)
    , image(image)
    , cellular(cellular)
    , worker(new MPThread(this))
{
    const QString port = target.port;
    worker->set_record_sink([journal, port](OperationRecord record) {
        record.tool = QStringLiteral("cli");
        record.port = port;
        return journal.append(record);
    });
    connect(worker, &MPThread::ui_set_progress_max, this, [this](int maximum) { total = maximum; });
    connect(worker, &MPThread::ui_set_progress, this, [this](int value) {
        // The last block is counted whole, padding included.
        emit progress(qMin<qint64>(value, total), total);
    });
    worker->keep_finished_operations();
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
        worker->post_record(unstarted_operation(target.port, type, image, QStringLiteral("port did not open")));
        return;
    }
    worker->__start_flash(flash_parameter(), cellular ? operation::set_cellular_kind : operation::set_wifi_kind);
    flash_parameter request;
    request.fs_path = image;
    request.fw_path = image;
    worker->__start_flash(request, type);
}

void ModuleSession::cancel()
{
    if (!finished_)
        worker->request_cancel();
}

void ModuleSession::on_finished()
{
    const QList<MPThread::FinishedOperation> taken = worker->take_finished_operations();
    if (taken.isEmpty() || finished_)
        return;
    result = taken.first().record;
    result.port = target.port;
    journal_result = taken.first().journal;
    finished_ = true;
    worker->close_serial_port();
    emit finished();
}
