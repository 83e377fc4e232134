#include "protocol/device_query.h"

#include "protocol/module_status.h"
#include "protocol/protocol_log.h"
#include "protocol/reply_text.h"

namespace {

// One reply: the first burst must start within 200 ms of the command, up to
// three more may follow, each within 20 ms of the one before.
bool gather_reply(ModuleLink &link)
{
    if (!link.wait_for_data(200))
        return false;
    for (int burst = 1; burst < 4; ++burst) {
        if (!link.wait_for_data(20))
            break;
    }
    return true;
}

void start_query(ModuleLink &link, WorkerReports &reports)
{
    link.discard_input();
    reports.report_status(ModuleStatus::tr("设备信息读取中"), true);
    link.discard_input();
}

struct SingleValueStep
{
    const char *command;
    const char *reply_label;
    quint8 field;
    const char *success_label;
};

const SingleValueStep version_step {"AT+LVER\r\n", "version:", field_sta_mac, "Get version ok:"};

enum class StepOutcome { no_reply, no_value, value };

StepOutcome run_single_value_step(ModuleLink &link, WorkerReports &reports, const SingleValueStep &step)
{
    // After a cancel the module hears no further command.
    if (link.cancel_requested())
        return StepOutcome::no_reply;
    link.write_data(QByteArray(step.command));
    if (!gather_reply(link))
        return StepOutcome::no_reply;
    const QString reply = reply_text(link.read_all());
    qCDebug(protocol_log) << step.reply_label << reply;
    QString value;
    if (!extract_marker_value(reply, &value))
        return StepOutcome::no_value;
    reports.report_mac_text(value, step.field);
    qCDebug(protocol_log) << step.success_label << value;
    return StepOutcome::value;
}

} // namespace

int query_wifi_module(ModuleLink &link, WorkerReports &reports)
{
    static const SingleValueStep steps[] = {
        {"AT+WSMAC\r\n", "mac:", field_ap_mac, "Get mac ok:"},
        version_step,
        {"AT+SVER\r\n", "sound version:", field_v_version, "Get sound version ok:"},
        {"AT+DEVSN\r\n", "dev sn:", field_device_sn, "Get dev sn ok:"},
    };
    start_query(link, reports);
    int result = -1;
    for (const SingleValueStep &step : steps) {
        switch (run_single_value_step(link, reports, step)) {
        case StepOutcome::no_reply:
            return -1;
        case StepOutcome::value:
            result = 0;
            break;
        case StepOutcome::no_value:
            break;
        }
    }
    return result;
}

int query_cellular_module(ModuleLink &link, WorkerReports &reports)
{
    start_query(link, reports);
    if (link.cancel_requested())
        return -1;
    link.write_data(QByteArrayLiteral("AT+INFO\r\n"));
    if (!gather_reply(link))
        return -1;
    // The module may finish its INFO answer late; give it one more chance.
    link.wait_for_data(100);
    const QString reply = reply_text(link.read_all());
    qCDebug(protocol_log) << "INFO:" << reply;

    int result = -1;
    QStringList fields;
    int value_length = 0;
    if (split_info_value(reply, &fields, &value_length)) {
        qCDebug(protocol_log) << "list:" << value_length;
        // A short answer must not leave a previous module's values standing:
        // missing fields are shown empty.
        static const quint8 rows[] = {field_device_sn, field_ap_mac, field_v_version};
        for (int i = 0; i < 3; ++i)
            reports.report_mac_text(i < fields.size() ? fields.at(i) : QString(), rows[i]);
        result = 0;
    }

    switch (run_single_value_step(link, reports, version_step)) {
    case StepOutcome::no_reply:
        return -1;
    case StepOutcome::value:
        return 0;
    case StepOutcome::no_value:
        break;
    }
    return result;
}
