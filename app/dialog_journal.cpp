#include "app/dialog.h"

#include "journal/journal.h"
#include "ui_dialog.h"
#include "worker/mpthread.h"

void Dialog::keep_journal()
{
    // Written on the worker thread, so the window never waits for the disk;
    // the worker reports a record it could not keep in the log pane.
    const Journal journal;
    thread->set_record_sink([journal](OperationRecord record) {
        record.tool = QStringLiteral("window");
        return journal.append(record);
    });
}

void Dialog::journal_port_not_opened(const flash_parameter &param, quint8 type)
{
    thread->post_record(unstarted_operation(ui->setting_port->currentText(), type, image_path_for(param, type),
                                            Failure::port_not_opened));
}
