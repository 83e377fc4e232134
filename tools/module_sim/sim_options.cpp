#include "tools/module_sim/sim_options.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>

#include <climits>

namespace {

struct OptionDoc
{
    const char *name;
    const char *value; // nullptr for a flag
    const char *help;
    bool value_optional = false;
};

// One row per option; the help text is generated from this table so that
// every option is documented on exactly one line.
const OptionDoc kOptions[] = {
    {"help", nullptr, "show this help and exit"},
    {"variant", "wifi|cellular", "module variant (default cellular); see COMMANDS below"},
    {"quiet", nullptr, "log nothing to stderr except errors"},
    {"link", "PATH", "also create a symlink PATH to the pty (removed on exit)"},
    {"pace", "BAUD", "pace the line like a real one: 10 bits per byte both ways (default 115200)", true},
    {"device-tree", "DIR", "write a fabricated sysfs tree under DIR showing the pty as USB serial"},
    {"identity", "module|alt|other", "USB identity in the tree: 3505:0001 if 2 | 19d1:0001 if 6 | 1a86:7523 if 0"},
    {"usb-port", "CHAIN", "the USB device's bus-port chain in the tree (default 1-1; 1-1.4.2: behind two hubs)"},
    {"no-product", nullptr, "leave out the USB product string file from the tree"},
    {"mac", "TEXT", "AT+WSMAC value"},
    {"fw-version", "TEXT", "AT+LVER value (firmware version)"},
    {"audio-version", "TEXT", "AT+SVER value (audio version)"},
    {"serial", "TEXT", "AT+DEVSN value (device serial number)"},
    {"devno", "TEXT", "AT+INFO first field (device number)"},
    {"imei", "TEXT", "AT+INFO second field (IMEI)"},
    {"iccid", "TEXT", "AT+INFO third field (ICCID)"},
    {"no-reply", nullptr, "fault: do not answer (a download command then starts no transfer)"},
    {"late-ms", "N", "fault: start the reply N ms after the command line"},
    {"bursts", "K", "fault: split the reply into K bursts"},
    {"burst-gap-ms", "N", "pause between bursts (default 10)"},
    {"no-marker", nullptr, "fault: reply without the +ok= / +ok marker"},
    {"garbage-before", "N", "fault: send N noise bytes before the reply"},
    {"garbage-instead", "N", "fault: send N noise bytes instead of the reply"},
    {"nul-before-marker", nullptr, "fault: send a NUL byte right before the marker"},
    {"ack-upper", nullptr, "fault: acknowledge a download command as +OK\\r\\n\\r\\n"},
    {"ack-short", nullptr, "fault: acknowledge a download command as +ok\\r\\n, one line end short"},
    {"no-download-ack", nullptr, "fault: ignore download commands (no reply, no transfer)"},
    {"unplug-reply-bytes", "N", "fault: vanish (close the pty and exit) after N bytes of a reply"},
    {"fault-command", "CMD", "apply the reply faults only to CMD, e.g. AT+LVER or LVER (default: every command)"},
    {"fault-times", "N", "apply the reply faults only to the first N commands they affect (default: always)"},
    {"ack-with-c", nullptr, "append the CRC request C to the download acknowledgement"},
    {"checksum", nullptr, "ask for the transfer with NAK (8-bit sum) instead of C (CRC-16)"},
    {"soh-size", "128|256", "data size of SOH frames (default 128); STX frames carry 1024"},
    {"first-request-ms", "N", "first transfer request N ms after the acknowledgement (default 100)"},
    {"request-interval-ms", "N", "repeat the request / NAK a silent sender every N ms (default 1000)"},
    {"request-limit", "N", "give up and return to commands after N silent intervals (default 20)"},
    {"frame-timeout-ms", "N", "drop and NAK a frame that stalls for N ms (default 1000)"},
    {"save-image", "FILE", "write the received image to FILE when EOT arrives"},
    {"strip-padding", nullptr, "drop trailing 0x1A padding from the saved image"},
    {"nak-block", "K", "fault: NAK good copies of block K (K counts distinct blocks from 1) ..."},
    {"nak-times", "N", "... the first N times it arrives (default 1)"},
    {"silent-block", "K", "fault: no answer to block K or anything after it (0: never ask)"},
    {"cancel-block", "K", "fault: answer block K with CAN CAN and drop the transfer (0: instead of asking)"},
    {"cancel-gap-ms", "N", "pause between the two CAN bytes (default 50; 0: one burst)"},
    {"eot-reply", "ack|nak|nul|none", "fault: answer EOT with ACK, NAK, NUL+ACK in one burst, or nothing"},
    {"eot-fault-times", "N", "the EOT fault covers the first N EOTs, later ones get ACK (default 1)"},
    {"unplug-block", "K", "fault: vanish when block K arrives, without answering (0: at the request)"},
    {"restart-after-download", "MS", "once an image arrived whole: the port goes away, back under the same name MS ms later"},
    {"not-ready-ms", "N", "fault: the port is listed but refuses to open for the first N ms"},
    {"plug-in-on-signal", nullptr, "print the pty path at once, but appear in the device tree only at SIGUSR2"},
};

QString option_usage(const OptionDoc &doc)
{
    QString usage = QStringLiteral("--") + QLatin1String(doc.name);
    if (doc.value && doc.value_optional)
        usage += QStringLiteral("[=%1]").arg(QLatin1String(doc.value));
    else if (doc.value)
        usage += QStringLiteral("=%1").arg(QLatin1String(doc.value));
    return usage;
}

bool to_int(const QString &text, int min, int max, int &out)
{
    bool ok = false;
    const long long v = text.toLongLong(&ok);
    if (!ok || v < min || v > max)
        return false;
    out = int(v);
    return true;
}

QByteArray normalise_command(const QString &text)
{
    QByteArray cmd = text.trimmed().toUpper().toLatin1();
    if (!cmd.startsWith("AT"))
        cmd.prepend("AT+");
    return cmd;
}

// The check digit that makes a 14-digit body a valid IMEI.
char luhn_digit(const QByteArray &body)
{
    int sum = 0;
    for (int i = 0; i < body.size(); ++i) {
        int d = body.at(body.size() - 1 - i) - '0';
        if (i % 2 == 0)
            d = d * 2 > 9 ? d * 2 - 9 : d * 2;
        sum += d;
    }
    return char('0' + (10 - sum % 10) % 10);
}

} // namespace

ModuleValues ModuleValues::for_instance(quint32 instance)
{
    ModuleValues v;
    v.serial = v.devno = "KV20SIM" + QByteArray::number(instance).rightJustified(6, '0');
    v.mac = QStringLiteral("02:4B:56:%1:%2:%3")
                .arg(instance >> 16 & 0xFF, 2, 16, QLatin1Char('0'))
                .arg(instance >> 8 & 0xFF, 2, 16, QLatin1Char('0'))
                .arg(instance & 0xFF, 2, 16, QLatin1Char('0'))
                .toUpper()
                .toLatin1();
    const QByteArray body = "86" + QByteArray::number(instance).rightJustified(12, '0');
    v.imei = body + luhn_digit(body);
    return v;
}

bool ReplyFaults::any_generic() const
{
    return no_reply || late_ms > 0 || bursts > 1 || no_marker || garbage_before > 0 || garbage_instead > 0
           || nul_before_marker || unplug_reply_bytes >= 0;
}

bool ReplyFaults::any_download() const
{
    return ack_upper || ack_short || no_download_ack;
}

QString help_text()
{
    QString text = QStringLiteral(
        "Usage: kv20-module-sim [options]\n"
        "Plays the module on a pseudo-terminal: prints the pty path as the first line of stdout,\n"
        "answers AT commands and receives images with XMODEM(-1K) until SIGTERM or SIGINT.\n"
        "SIGUSR1 restarts it: the port goes away and comes back under the same name, with the\n"
        "same identity (after the --restart-after-download time, else 1000 ms). Without identity\n"
        "options each simulator has its own serial number, device number, MAC and IMEI.\n\n"
        "Options:\n");
    int width = 0;
    for (const OptionDoc &doc : kOptions)
        width = std::max(width, int(option_usage(doc).size()));
    for (const OptionDoc &doc : kOptions)
        text += QStringLiteral("  ") + option_usage(doc).leftJustified(width + 2) + QLatin1String(doc.help) + '\n';
    text += QStringLiteral(
        "\nCOMMANDS (lines end in LF, a CR before it is optional, empty lines are ignored):\n"
        "  AT+LVER, AT+SVER, AT+DEVSN  -> +ok=<value>\\r\\n on both variants\n"
        "  AT+WSMAC                    -> +ok=<mac>\\r\\n on wifi; +ERR\\r\\n on cellular (no Wi-Fi)\n"
        "  AT+INFO                     -> +ok=<devno>,<imei>,<iccid>\\r\\n on cellular; +ERR\\r\\n on wifi\n"
        "  AT+FOTA, AT+XUPDATE         -> +ok\\r\\n\\r\\n, then XMODEM receive, then commands again\n"
        "  AT                          -> +ok\\r\\n; anything else -> +ERR\\r\\n\n"
        "While a transfer waits for a frame, a command line (AT...) ends it and is answered.\n");
    return text;
}

ParseOutcome parse_options(const QStringList &raw_args, SimOptions &out, QString &error)
{
    // QCommandLineParser has no optional values: a bare --pace means the
    // line's own rate of 115200 baud.
    QStringList args;
    for (const QString &a : raw_args)
        args << (a == QLatin1String("--pace") ? QStringLiteral("--pace=115200") : a);

    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    for (const OptionDoc &doc : kOptions) {
        QCommandLineOption opt(QLatin1String(doc.name));
        if (doc.value)
            opt.setValueName(QLatin1String(doc.value));
        parser.addOption(opt);
    }
    if (!parser.parse(args)) {
        error = parser.errorText();
        return ParseOutcome::Error;
    }
    if (parser.isSet(QStringLiteral("help")))
        return ParseOutcome::Help;
    if (!parser.positionalArguments().isEmpty()) {
        error = QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first());
        return ParseOutcome::Error;
    }

    auto set = [&](const char *name) { return parser.isSet(QLatin1String(name)); };
    auto value = [&](const char *name) { return parser.value(QLatin1String(name)); };
    bool ok = true;
    auto number = [&](const char *name, int min, int max, int &target) {
        if (!ok || !set(name))
            return;
        if (!to_int(value(name), min, max, target)) {
            error = QStringLiteral("--%1: expected a whole number from %2 to %3, got '%4'")
                        .arg(QLatin1String(name)).arg(min).arg(max).arg(value(name));
            ok = false;
        }
    };
    auto choice = [&](const char *name, const QStringList &choices, int &index) {
        if (!ok || !set(name))
            return;
        index = int(choices.indexOf(value(name).toLower()));
        if (index < 0) {
            error = QStringLiteral("--%1: expected one of %2, got '%3'")
                        .arg(QLatin1String(name), choices.join('|'), value(name));
            ok = false;
        }
    };
    auto text = [&](const char *name, QByteArray &target) {
        if (set(name))
            target = value(name).toUtf8();
    };

    int variant = 1;
    choice("variant", {QStringLiteral("wifi"), QStringLiteral("cellular")}, variant);
    out.variant = variant == 0 ? Variant::Wifi : Variant::Cellular;
    int identity = 0;
    choice("identity", {QStringLiteral("module"), QStringLiteral("alt"), QStringLiteral("other")}, identity);
    out.identity = UsbIdentity(identity);
    int eot = 0;
    choice("eot-reply", {QStringLiteral("ack"), QStringLiteral("nak"), QStringLiteral("nul"), QStringLiteral("none")}, eot);
    out.transfer.eot_reply = EotReply(eot);

    out.quiet = set("quiet");
    out.link_path = value("link");
    out.device_tree = value("device-tree");
    out.no_product = set("no-product");
    if (!value("usb-port").isEmpty())
        out.usb_port = value("usb-port");
    number("pace", 50, 4000000, out.pace_baud);
    number("not-ready-ms", 0, 600000, out.not_ready_ms);
    out.plug_in_on_signal = set("plug-in-on-signal");

    // The process id tells simulators apart: no two running at once share
    // it, and a pty number is reused as soon as its module has gone.
    out.values = ModuleValues::for_instance(quint32(QCoreApplication::applicationPid()));
    ModuleValues &v = out.values;
    text("mac", v.mac);
    text("fw-version", v.fw_version);
    text("audio-version", v.audio_version);
    text("serial", v.serial);
    text("devno", v.devno);
    text("imei", v.imei);
    text("iccid", v.iccid);

    ReplyFaults &f = out.faults;
    f.no_reply = set("no-reply");
    number("late-ms", 0, 600000, f.late_ms);
    number("bursts", 1, 1000, f.bursts);
    number("burst-gap-ms", 0, 60000, f.burst_gap_ms);
    f.no_marker = set("no-marker");
    number("garbage-before", 0, 1 << 20, f.garbage_before);
    number("garbage-instead", 0, 1 << 20, f.garbage_instead);
    f.nul_before_marker = set("nul-before-marker");
    f.ack_upper = set("ack-upper");
    f.ack_short = set("ack-short");
    f.no_download_ack = set("no-download-ack");
    number("unplug-reply-bytes", 0, INT_MAX, f.unplug_reply_bytes);
    if (set("fault-command"))
        f.only_command = normalise_command(value("fault-command"));
    number("fault-times", 0, INT_MAX, f.only_times);

    TransferOptions &t = out.transfer;
    t.ack_with_c = set("ack-with-c");
    t.checksum = set("checksum");
    int soh = 0;
    choice("soh-size", {QStringLiteral("128"), QStringLiteral("256")}, soh);
    t.soh_size = soh == 0 ? 128 : 256;
    number("first-request-ms", 0, 600000, t.first_request_ms);
    number("request-interval-ms", 1, 600000, t.request_interval_ms);
    number("request-limit", 1, 100000, t.request_limit);
    number("frame-timeout-ms", 1, 600000, t.frame_timeout_ms);
    t.save_image = value("save-image");
    t.strip_padding = set("strip-padding");
    number("nak-block", 1, INT_MAX, t.nak_block);
    number("nak-times", 0, INT_MAX, t.nak_times);
    number("silent-block", 0, INT_MAX, t.silent_block);
    number("cancel-block", 0, INT_MAX, t.cancel_block);
    number("cancel-gap-ms", 0, 60000, t.cancel_gap_ms);
    number("eot-fault-times", 0, INT_MAX, t.eot_fault_times);
    number("unplug-block", 0, INT_MAX, t.unplug_block);
    number("restart-after-download", 0, 600000, t.restart_after_download_ms);

    return ok ? ParseOutcome::Run : ParseOutcome::Error;
}
