#include "tools/module_sim/at_responder.h"

#include "tools/module_sim/sim_log.h"

#include <QStringList>

#include <algorithm>

namespace {

// Longer lines are not commands; they are dropped whole.
constexpr int kMaxLine = 256;

} // namespace

AtResponder::AtResponder(Variant variant, const ModuleValues &values, const ReplyFaults &faults, bool ack_with_c)
    : variant_(variant), values_(values), faults_(faults), ack_with_c_(ack_with_c)
{
}

OutChunks AtResponder::feed(const QByteArray &bytes)
{
    OutChunks out;
    for (const char ch : bytes) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (c == '\n') {
            const QByteArray line = line_.trimmed();
            const bool dropped = overlong_;
            line_.clear();
            overlong_ = false;
            if (dropped)
                log_line(QStringLiteral("dropped an over-long line"));
            else if (!line.isEmpty())
                out += answer(line);
            continue;
        }
        // CR is optional before LF. Other control bytes are line noise, for
        // instance the tail of an XMODEM exchange, and never part of a command.
        if (c < 0x20 || c == 0x7f)
            continue;
        if (line_.size() >= kMaxLine)
            overlong_ = true;
        else
            line_.append(ch);
    }
    return out;
}

AtResponder::Reply AtResponder::lookup(const QByteArray &command) const
{
    const bool wifi = variant_ == Variant::Wifi;
    if (command == "AT")
        return {Kind::Plain, {}};
    if (command == "AT+LVER")
        return {Kind::Value, values_.fw_version};
    if (command == "AT+SVER")
        return {Kind::Value, values_.audio_version};
    if (command == "AT+DEVSN")
        return {Kind::Value, values_.serial};
    // The cellular module has no Wi-Fi radio, the Wi-Fi module no modem:
    // each rejects the other's identity command like any unknown command.
    if (command == "AT+WSMAC" && wifi)
        return {Kind::Value, values_.mac};
    if (command == "AT+INFO" && !wifi)
        return {Kind::Value, values_.devno + ',' + values_.imei + ',' + values_.iccid};
    if (command == "AT+FOTA" || command == "AT+XUPDATE")
        return {Kind::Download, {}};
    return {Kind::Error, {}};
}

bool AtResponder::fault_applies(const QByteArray &command, Kind kind)
{
    const bool affected = faults_.any_generic() || (kind == Kind::Download && faults_.any_download());
    if (!affected)
        return false;
    if (!faults_.only_command.isEmpty() && command != faults_.only_command)
        return false;
    if (faults_.only_times > 0 && faulted_ >= faults_.only_times)
        return false;
    ++faulted_;
    return true;
}

QByteArray AtResponder::noise(int count)
{
    // Line noise that cannot be mistaken for part of an answer: no NUL, no
    // line end, no marker start and no CRC request letter.
    QByteArray out;
    out.reserve(count);
    while (out.size() < count) {
        noise_state_ = noise_state_ * 1664525u + 1013904223u;
        const char c = char(noise_state_ >> 24);
        if (c == 0 || c == '\r' || c == '\n' || c == '+' || c == 'C')
            continue;
        out.append(c);
    }
    return out;
}

OutChunks AtResponder::answer(const QByteArray &raw)
{
    const QByteArray command = raw.toUpper();
    const Reply reply = lookup(command);
    const bool faulty = fault_applies(command, reply.kind);
    const ReplyFaults none;
    const ReplyFaults &f = faulty ? faults_ : none;

    QByteArray marker;
    QByteArray body;
    switch (reply.kind) {
    case Kind::Value:
        marker = "+ok=";
        body = reply.value + "\r\n";
        break;
    case Kind::Plain:
        marker = "+ok";
        body = "\r\n";
        break;
    case Kind::Download:
        marker = f.ack_upper ? "+OK" : "+ok";
        body = f.ack_short ? "\r\n" : "\r\n\r\n";
        if (ack_with_c_)
            body += 'C';
        break;
    case Kind::Error:
        body = "+ERR\r\n";
        break;
    }

    QStringList notes;
    QByteArray text;
    if (f.garbage_instead > 0) {
        text = noise(f.garbage_instead);
        notes << QStringLiteral("noise instead");
    } else {
        if (f.garbage_before > 0) {
            text = noise(f.garbage_before);
            notes << QStringLiteral("noise before");
        }
        if (f.nul_before_marker && !marker.isEmpty()) {
            text += '\0';
            notes << QStringLiteral("NUL before marker");
        }
        if (f.no_marker && !marker.isEmpty())
            notes << QStringLiteral("no marker");
        else
            text += marker;
        text += body;
    }

    const bool download = reply.kind == Kind::Download;
    bool silent = f.no_reply || (download && f.no_download_ack);
    if (f.unplug_reply_bytes >= 0) {
        text.truncate(f.unplug_reply_bytes);
        notes << QStringLiteral("unplug after %1 bytes").arg(text.size());
        silent = false;
    }
    if (f.ack_upper && download)
        notes << QStringLiteral("upper-case ack");
    if (f.ack_short && download)
        notes << QStringLiteral("ack one line end short");

    if (silent) {
        log_line(QStringLiteral("command %1 -> no reply").arg(printable(raw)));
        return {};
    }

    OutChunks out;
    const int parts = std::max(1, std::min<int>(f.bursts, int(text.size())));
    const int base = int(text.size()) / parts;
    int extra = int(text.size()) % parts;
    int pos = 0;
    for (int i = 0; i < parts; ++i) {
        const int len = base + (extra-- > 0 ? 1 : 0);
        out.append({i == 0 ? f.late_ms : f.burst_gap_ms, text.mid(pos, len), AfterOutput::Nothing});
        pos += len;
    }
    if (f.late_ms > 0)
        notes << QStringLiteral("%1 ms late").arg(f.late_ms);
    if (parts > 1)
        notes << QStringLiteral("%1 bursts %2 ms apart").arg(parts).arg(f.burst_gap_ms);

    if (f.unplug_reply_bytes >= 0)
        out.last().after = AfterOutput::Unplug;
    else if (download)
        // The request letter can only count as sent if it really went out.
        out.last().after = text.endsWith('C') ? AfterOutput::StartTransferRequested : AfterOutput::StartTransfer;

    QString line = QStringLiteral("command %1 -> %2").arg(printable(raw), printable(text));
    if (!notes.isEmpty())
        line += QStringLiteral(" [%1]").arg(notes.join(QStringLiteral(", ")));
    log_line(line);
    return out;
}
