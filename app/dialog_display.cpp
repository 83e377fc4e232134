#include "app/dialog.h"

#include "app/window_log.h"
#include "protocol/device_query.h"
#include "ui_dialog.h"

#include <QDebug>

namespace {
const QString success_style = QStringLiteral("color: rgb(0, 255, 0);");
const QString failure_style = QStringLiteral("color: rgb(255, 0, 0);");
}

void Dialog::ui_set_progress(int value)
{
    ui->xmodem_progress->setValue(value);
}

void Dialog::ui_set_progress_max(int maximum)
{
    ui->xmodem_progress->setMaximum(maximum);
    ui->xmodem_progress->setMinimum(0);
}

void Dialog::set_main_info(QString str, bool success)
{
    ui->status->setStyleSheet(success ? success_style : failure_style);
    ui->status->setText(str);
    // What the operator saw, for whoever reads the debug output afterwards.
    qCDebug(window_log) << "status:" << str << (success ? "green" : "red");
}

void Dialog::ui_debug(QString line)
{
    ui->debug_box->appendPlainText(line);
}

void Dialog::burn_done(bool ok)
{
    burn_show(true);
    if (ok) {
        ui->xmodem_progress->setMaximum(1);
        ui->xmodem_progress->setMinimum(0);
        ui->xmodem_progress->setValue(1);
    }
    emit thread_close_serial_port();
}

void Dialog::burn_show(bool enable)
{
    ui->burn->setEnabled(enable);
    ui->speed->setEnabled(enable);
    ui->setting_port->setEnabled(enable);
    qCDebug(window_log) << "controls enabled:" << enable;
}

void Dialog::mac_done(bool ok)
{
    if (ok) {
        set_main_info(tr("设备信息获取成功"), true);
        return;
    }
    burn_show(true);
    emit thread_close_serial_port();
    set_main_info(tr("设备信息获取失败"), false);
}

void Dialog::ui_set_mac_text(QString mac_string, quint8 type)
{
    qCDebug(window_log) << "field:" << type << mac_string;
    switch (type) {
    case field_ap_mac:
        ui->ap_mac->setText(mac_string);
        break;
    case field_sta_mac:
        ui->sta_mac->setText(mac_string);
        break;
    case field_v_version:
        ui->v_version->setText(mac_string);
        break;
    default:
        ui->deviceSN->setText(mac_string);
        break;
    }
}
