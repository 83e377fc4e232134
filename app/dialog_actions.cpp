#include "app/dialog.h"

#include "app/window_log.h"
#include "ui_dialog.h"

#include <QFileDialog>
#include <QSettings>

bool Dialog::open_selected_port()
{
    const QString port_name = ui->setting_port->currentText();
    if (port_name.isEmpty())
        return false;
    return emit thread_open_serial_port(port_name, ui->speed->currentText());
}

void Dialog::on_burn_clicked()
{
    flash_parameter param;
    param.fw_addr = QStringLiteral("20000");
    param.fw_size = QStringLiteral("80000");
    param.fw_path = ui->path_fw->text();
    param.fs_addr = QStringLiteral("A0000");
    param.fs_size = QStringLiteral("40000");
    param.fs_path = ui->path_fs->text();

    const quint8 type = selected_operation_type();
    if (!open_selected_port()) {
        journal_port_not_opened(param, type);
        set_main_info(tr("串口打开失败"), false);
        return;
    }

    ui->burn->setEnabled(false);
    qCDebug(window_log) << "action button enabled:" << false;
    ui->xmodem_progress->setMaximum(1);
    ui->xmodem_progress->setMinimum(0);
    ui->xmodem_progress->setValue(0);
    ui->ap_mac->clear();
    ui->sta_mac->clear();
    ui->v_version->clear();

    emit __start_flash(param, type);
}

quint8 Dialog::selected_operation_type() const
{
    // By position, not by the shown word, which the catalogue may have made
    // English: the form's list and the one a found module gets both begin
    // with the audio replacement and the query; any other choice upgrades
    // the firmware.
    switch (ui->speed->currentIndex()) {
    case 0:
        return operation::audio_replacement;
    case 1:
        return operation::device_query;
    default:
        return operation::firmware_upgrade;
    }
}

void Dialog::choose_image(QLineEdit *path_field, const QString &settings_key)
{
    const QString path = QFileDialog::getOpenFileName(this, tr("Open Image"), path_field->text(),
                                                      tr("Files(*.img *.bin)"));
    if (path.isEmpty())
        return;
    path_field->setText(path);
    settings->setValue(settings_key, path);
}

void Dialog::on_choose_fw_clicked()
{
    choose_image(ui->path_fw, QStringLiteral("fw.img_path"));
}

void Dialog::on_choose_fs_clicked()
{
    choose_image(ui->path_fs, QStringLiteral("fs.img_path"));
}
