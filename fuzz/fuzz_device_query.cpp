// Both identity queries against a module whose answers come from the fuzzer:
// the commands sent, the fields reported and the result rule.
#include "fuzz/fuzz_oracles.h"
#include "fuzz/fuzz_targets.h"
#include "protocol/device_query.h"

#include <algorithm>

namespace {

// Pieces a real module answers with, so that one script byte can play them.
const QList<QByteArray> reply_tokens = {
    QByteArrayLiteral("+ok="),
    QByteArrayLiteral("\r\n"),
    QByteArrayLiteral("+ok=00:11:22:33:44:55\r\n"),
    QByteArrayLiteral("+ok=SN0001,860000000000001,89860000000000000001\r\n"),
    QByteArrayLiteral(","),
    QByteArray(1, '\0'),
    QByteArrayLiteral("AT+LVER\r\n"),
    QByteArrayLiteral("+ok=V1.2.3\r\nOK\r\n"),
    QByteArrayLiteral("+OK=\r\n"),
    QByteArrayLiteral("\xe9\x9f\xb3"),
};

} // namespace

QString check_query_run(const std::vector<FuzzEvent> &trace, bool cellular, int result)
{
    if (result != 0 && result != -1)
        return QStringLiteral("result %1").arg(result);

    const QList<QByteArray> table = cellular
        ? QList<QByteArray> {"AT+INFO\r\n", "AT+LVER\r\n"}
        : QList<QByteArray> {"AT+WSMAC\r\n", "AT+LVER\r\n", "AT+SVER\r\n", "AT+DEVSN\r\n"};

    // Straight from the script: which commands went out, whether the first
    // wait behind each was answered, whether any reply carried the marker.
    int commands = 0;
    bool all_answered = true;
    bool any_marker = false;
    bool first_wait_pending = false;
    for (const FuzzEvent &e : trace) {
        switch (e.kind) {
        case FuzzEvent::write_data:
            if (commands >= table.size())
                return QStringLiteral("more than %1 commands").arg(table.size());
            if (e.bytes != table.at(commands))
                return QStringLiteral("command %1 is %2, expected %3")
                    .arg(commands + 1).arg(QString::fromLatin1(e.bytes.toHex()), QString::fromLatin1(table.at(commands)));
            ++commands;
            first_wait_pending = true;
            break;
        case FuzzEvent::write_byte:
            return QStringLiteral("a query wrote a single byte");
        case FuzzEvent::wait_for_data:
            if (first_wait_pending && e.result == 0)
                all_answered = false;
            first_wait_pending = false;
            break;
        case FuzzEvent::read_all:
            if (reference::index_of(reference::before_nul(e.bytes), QByteArrayLiteral("+ok=")) >= 0)
                any_marker = true;
            break;
        case FuzzEvent::report_mac_text:
            if (e.number > 3)
                return QStringLiteral("field type %1").arg(e.number);
            break;
        default:
            break;
        }
    }
    if (commands < table.size())
        all_answered = false;
    const bool success = all_answered && any_marker;
    if ((result == 0) != success)
        return QStringLiteral("result %1, but every command answered: %2, a marker seen: %3")
            .arg(result).arg(all_answered).arg(any_marker);

    // Two discards, the commands, and per reply at most four waits and one
    // read (plus the extra wait behind AT+INFO).
    const int bound = cellular ? 2 + 2 * 5 + 1 + 2 : 2 + 4 * 5 + 4;
    const auto calls = std::count_if(trace.begin(), trace.end(), [](const FuzzEvent &e) { return e.is_link_call(); });
    if (calls > bound)
        return QStringLiteral("%1 link calls, at most %2 are possible").arg(calls).arg(bound);

    TraceCursor c(trace);
    const int expected = cellular ? expect_cellular_query(c) : expect_wifi_query(c);
    c.expect_end(QStringLiteral("after the query"));
    if (!c.ok())
        return c.error;
    if (result != expected)
        return QStringLiteral("result %1, expected %2").arg(result).arg(expected);
    return QString();
}

QString fuzz_device_query(const std::uint8_t *data, std::size_t size, FuzzOutcome *outcome)
{
    if (size == 0)
        return QString();
    const bool cellular = data[0] & 1;
    FuzzScript script(data + 1, size - 1);
    std::vector<FuzzEvent> trace;
    FuzzLink link(script, trace, reply_tokens);
    FuzzReports reports(trace);
    const int result = cellular ? query_cellular_module(link, reports) : query_wifi_module(link, reports);
    if (outcome) {
        outcome->result = result;
        outcome->trace = trace;
    }
    const QString finding = check_query_run(trace, cellular, result);
    if (finding.isEmpty())
        return finding;
    return QStringLiteral("%1 query: %2\n%3").arg(cellular ? "cellular" : "Wi-Fi", finding, format_trace(trace));
}

KV20_FUZZ_ENTRY(fuzz_device_query)
