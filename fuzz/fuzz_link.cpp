#include "fuzz/fuzz_link.h"
#include "fuzz/fuzz_targets.h"

#include <QtGlobal>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <utility>

QByteArray FuzzScript::next_bytes(int count)
{
    const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(count), remaining());
    QByteArray out(reinterpret_cast<const char *>(data + pos), static_cast<int>(n));
    pos += n;
    return out;
}

QString describe(const FuzzEvent &event)
{
    static const char *const names[] = {
        "write_data",  "write_byte", "wait_for_data", "wait_once",  "read_all",   "discard_input",
        "read_byte",   "progress",   "progress_max",  "debug",      "status",     "mac_text",
    };
    QString s = QString::fromLatin1(names[event.kind]);
    switch (event.kind) {
    case FuzzEvent::write_data:
    case FuzzEvent::read_all:
    case FuzzEvent::discard_input:
        s += QStringLiteral("(%1 bytes: %2)")
                 .arg(event.bytes.size())
                 .arg(QString::fromLatin1(event.bytes.left(24).toHex()));
        break;
    case FuzzEvent::write_byte:
        s += QStringLiteral("(0x%1)").arg(static_cast<quint8>(event.bytes.at(0)), 2, 16, QLatin1Char('0'));
        break;
    case FuzzEvent::wait_for_data:
    case FuzzEvent::wait_once:
    case FuzzEvent::read_byte:
        s += QStringLiteral("(%1 ms) -> %2").arg(event.number).arg(event.result);
        break;
    case FuzzEvent::report_progress:
    case FuzzEvent::report_progress_max:
        s += QStringLiteral("(%1)").arg(event.number);
        break;
    case FuzzEvent::report_debug:
        s += QStringLiteral("(\"%1\")").arg(event.text);
        break;
    case FuzzEvent::report_status:
    case FuzzEvent::report_mac_text:
        s += QStringLiteral("(\"%1\", %2)").arg(event.text).arg(event.number);
        break;
    }
    return s;
}

FuzzLink::FuzzLink(FuzzScript &script, std::vector<FuzzEvent> &trace, QList<QByteArray> tokens)
    : script(script), trace(trace), tokens(std::move(tokens))
{
}

FuzzLink::Arrival FuzzLink::next_arrival()
{
    Arrival arrival;
    if (script.exhausted())
        return arrival;
    const std::uint8_t c = script.next_byte();
    using namespace fuzz_event;
    if (c < token_first)
        return arrival;
    if (c < burst_first) {
        arrival.notified = true;
        if (!tokens.isEmpty())
            arrival.bytes = tokens.at((c & 0x3f) % tokens.size());
    } else if (c < quiet_burst_first) {
        arrival.notified = true;
        arrival.bytes = script.next_bytes((c & 0x3f) + 1);
    } else if (c < quiet_token_first) {
        arrival.bytes = script.next_bytes((c & 0x1f) + 1);
    } else if (!tokens.isEmpty()) {
        arrival.bytes = tokens.at((c & 0x1f) % tokens.size());
    }
    return arrival;
}

void FuzzLink::count_call()
{
    if (++call_count > max_calls) {
        std::fprintf(stderr, "FuzzLink: more than %d link calls, the conversation does not end\n", max_calls);
        std::abort();
    }
}

void FuzzLink::record(FuzzEvent event)
{
    trace.push_back(std::move(event));
}

void FuzzLink::write_data(const QByteArray &data)
{
    count_call();
    // The caller may hand over raw data it reuses for the next frame; a real
    // port has copied the bytes by the time write returns.
    record({FuzzEvent::write_data, QByteArray(data.constData(), data.size()), 0, 0, {}});
}

void FuzzLink::write_byte(char byte)
{
    count_call();
    record({FuzzEvent::write_byte, QByteArray(1, byte), 0, 0, {}});
}

bool FuzzLink::wait_for_data(unsigned long timeout_ms)
{
    count_call();
    ++wait_read_count;
    const Arrival arrival = next_arrival();
    buffer += arrival.bytes;
    record({FuzzEvent::wait_for_data, {}, static_cast<qint64>(timeout_ms), arrival.notified ? 1 : 0, {}});
    return arrival.notified;
}

bool FuzzLink::wait_once(unsigned long timeout_ms)
{
    count_call();
    ++wait_read_count;
    const Arrival arrival = next_arrival();
    buffer += arrival.bytes;
    record({FuzzEvent::wait_once, {}, static_cast<qint64>(timeout_ms), arrival.notified ? 1 : 0, {}});
    return arrival.notified;
}

QByteArray FuzzLink::read_all()
{
    count_call();
    ++wait_read_count;
    QByteArray out;
    out.swap(buffer);
    record({FuzzEvent::read_all, out, 0, 0, {}});
    return out;
}

void FuzzLink::discard_input()
{
    count_call();
    QByteArray dropped;
    dropped.swap(buffer);
    record({FuzzEvent::discard_input, dropped, 0, 0, {}});
}

qint8 FuzzLink::read_byte(quint16 timeout_ms)
{
    count_call();
    ++wait_read_count;
    qint8 value = -1;
    if (buffer.isEmpty()) {
        // Nothing pending: the module decides what arrives within the time-out.
        const Arrival arrival = next_arrival();
        buffer += arrival.bytes;
        if (!arrival.notified) {
            record({FuzzEvent::read_byte, {}, timeout_ms, value, {}});
            return value;
        }
    }
    // One read takes everything pending; only its first byte counts.
    if (!buffer.isEmpty())
        value = static_cast<qint8>(buffer.at(0));
    const QByteArray taken = buffer;
    buffer.clear();
    record({FuzzEvent::read_byte, taken, timeout_ms, value, {}});
    return value;
}

void FuzzReports::report_progress(int bytes_sent)
{
    trace.push_back({FuzzEvent::report_progress, {}, bytes_sent, 0, {}});
}

void FuzzReports::report_progress_max(int image_length)
{
    trace.push_back({FuzzEvent::report_progress_max, {}, image_length, 0, {}});
}

void FuzzReports::report_debug(const QString &line)
{
    trace.push_back({FuzzEvent::report_debug, {}, 0, 0, line});
}

void FuzzReports::report_status(const QString &text, bool ok)
{
    trace.push_back({FuzzEvent::report_status, {}, ok ? 1 : 0, 0, text});
}

void FuzzReports::report_mac_text(const QString &value, quint8 type)
{
    trace.push_back({FuzzEvent::report_mac_text, {}, type, 0, value});
}

namespace {
void drop_message(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    // Warnings and worse still matter: Qt reports misuse through them.
    if (type != QtDebugMsg && type != QtInfoMsg)
        std::fprintf(stderr, "%s\n", qPrintable(message));
}
}

void fuzz_silence_qt_messages()
{
    qInstallMessageHandler(drop_message);
}

void fuzz_abort_on_finding(const QString &finding)
{
    std::fprintf(stderr, "\n=== rule broken ===\n%s\n", qPrintable(finding));
    std::abort();
}
