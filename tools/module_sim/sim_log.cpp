#include "tools/module_sim/sim_log.h"

#include "tools/module_sim/sim_clock.h"

#include <cstdio>

namespace {

bool g_quiet = false;
const SimTime g_start = SimClock::now();

void write_line(const QString &text)
{
    // KV20_SIM_LOG_CLOCK=monotonic: the system's monotonic clock itself, so
    // that a benchmark can set the simulator's moments against its own.
    static const bool absolute = qgetenv("KV20_SIM_LOG_CLOCK") == "monotonic";
    const SimTime now = SimClock::now();
    const double secs = std::chrono::duration<double>(absolute ? now.time_since_epoch() : now - g_start).count();
    const QByteArray line = QStringLiteral("[%1] %2\n").arg(secs, 8, 'f', 3).arg(text).toUtf8();
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    std::fflush(stderr);
}

} // namespace

void log_set_quiet(bool quiet)
{
    g_quiet = quiet;
}

void log_line(const QString &text)
{
    if (!g_quiet)
        write_line(text);
}

void log_error(const QString &text)
{
    write_line(QStringLiteral("error: ") + text);
}

QString printable(const QByteArray &bytes, int max_chars)
{
    QString out;
    for (int i = 0; i < bytes.size(); ++i) {
        if (out.size() >= max_chars) {
            out += QStringLiteral("...");
            break;
        }
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c == '\r')
            out += QStringLiteral("\\r");
        else if (c == '\n')
            out += QStringLiteral("\\n");
        else if (c == 0)
            out += QStringLiteral("\\0");
        else if (c == '\\')
            out += QStringLiteral("\\\\");
        else if (c >= 0x20 && c < 0x7f)
            out += QChar(c);
        else
            out += QStringLiteral("\\x%1").arg(c, 2, 16, QChar('0'));
    }
    return out;
}
