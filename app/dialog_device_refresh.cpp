#include "app/dialog.h"

#include "app/window_log.h"
#include "discovery/native_device_change.h"
#include "discovery/port_enumerator.h"
#include "discovery/port_rules.h"
#include "ui_dialog.h"
#include "worker/mpthread.h"

namespace {
constexpr quint32 device_arrival = 0x8000;
constexpr quint32 device_remove_complete = 0x8004;
constexpr quint32 device_type_specific = 0x8005;
}

bool Dialog::find_ports()
{
    return collect_module_ports(enumerate_com_port_interfaces(), &port_list);
}

void Dialog::device_refresh()
{
    // Once a module has been found, port list, selector and variant stay as
    // they are until the program restarts.
    if (!port_list.isEmpty())
        return;
    if (find_ports()) {
        emit __start_flash(flash_parameter(), operation::select_1k_blocks);
        ui->label_2->setText(tr("IMEI号："));
        ui->label_4->setText(tr("ICCID号："));
        emit __start_flash(flash_parameter(), operation::set_cellular_kind);
        fill_operation_list(2);
    }
    if (!port_list.isEmpty()) {
        ui->setting_port->addItems(port_list);
        ui->setting_port->setCurrentIndex(0);
    }
}

void Dialog::fill_operation_list(int count)
{
    ui->speed->clear();
    ui->speed->addItem(tr("音频更换"));
    ui->speed->addItem(tr("设备查询"));
    if (count > 2)
        ui->speed->addItem(tr("固件升级"));
}

bool Dialog::nativeEvent(const QByteArray &eventType, void *message, long *)
{
    quint32 event_code = 0;
    bool volume_with_zero_flags = false;
    if (decode_native_device_change(eventType, message, &event_code, &volume_with_zero_flags))
        handle_device_change(event_code, volume_with_zero_flags);
    return false;
}

void Dialog::handle_device_change(quint32 event_code, bool volume_with_zero_flags)
{
    qCDebug(window_log) << "Recv Event " << event_code;
    device_refresh();
    switch (event_code) {
    case device_arrival:
        qCDebug(window_log) << "DBT_DEVICEARRIVAL";
        break;
    case device_remove_complete:
        if (volume_with_zero_flags)
            qCDebug(window_log) << "USB_delete";
        qCDebug(window_log) << "DBT_DEVICEREMOVECOMPLETE";
        break;
    case device_type_specific:
        qCDebug(window_log) << "DBT_DEVICETYPESPECIFIC ";
        break;
    default:
        break;
    }
}
