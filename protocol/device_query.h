#pragma once

#include "interfaces/module_link.h"
#include "interfaces/worker_reports.h"

// Device fields of the window, by the type that ui_set_mac_text carries.
enum DeviceField : quint8 {
    field_ap_mac = 0,     // MAC address, or the IMEI on a cellular module
    field_sta_mac = 1,    // firmware version
    field_v_version = 2,  // audio version, or the ICCID on a cellular module
    field_device_sn = 3,  // device number
};

// The Wi-Fi module's identity: AT+WSMAC, AT+LVER, AT+SVER, AT+DEVSN.
// 0 when every command was answered and at least one answer carried a value.
int query_wifi_module(ModuleLink &link, WorkerReports &reports);

// The cellular module's identity: AT+INFO (device number, IMEI, ICCID), then
// AT+LVER. Same result rule over the two commands.
int query_cellular_module(ModuleLink &link, WorkerReports &reports);
