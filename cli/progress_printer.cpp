#include "cli/progress_printer.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

namespace {

QString rate_text(double bytes_per_second)
{
    return bytes_per_second >= 1024 ? QStringLiteral("%1 KiB/s").arg(bytes_per_second / 1024, 0, 'f', 1)
                                    : QStringLiteral("%1 B/s").arg(bytes_per_second, 0, 'f', 0);
}

QByteArray json_line(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

} // namespace

ProgressPrinter::ProgressPrinter(Mode mode, QObject *parent)
    : QObject(parent)
    , mode(mode)
{
    // Redrawing at every block would cost more than the transfer on a slow
    // terminal; five times a second reads as live.
    redraw_timer.setInterval(200);
    connect(&redraw_timer, &QTimer::timeout, this, &ProgressPrinter::redraw);
    if (mode == terminal)
        redraw_timer.start();
}

int ProgressPrinter::add_module(const QString &port, const QString &operation)
{
    Module module;
    module.port = port;
    module.operation = operation;
    modules.append(module);
    return modules.size() - 1;
}

QString ProgressPrinter::status_line(const Module &m) const
{
    if (!m.result.isEmpty())
        return m.result;
    if (m.total <= 0)
        return QStringLiteral("%1: %2 ...").arg(m.port, m.operation);
    const double seconds = m.clock.isValid() ? m.clock.elapsed() / 1000.0 : 0;
    const double rate = seconds > 0 ? m.bytes / seconds : 0;
    const QString left = rate > 0 ? QStringLiteral("%1 s left").arg(qRound64((m.total - m.bytes) / rate))
                                  : QStringLiteral("-- s left");
    return QStringLiteral("%1: %2 %3% %4/%5 bytes %6 %7")
        .arg(m.port, m.operation)
        .arg(m.bytes * 100 / m.total)
        .arg(m.bytes)
        .arg(m.total)
        .arg(rate_text(rate), left);
}

void ProgressPrinter::progress(int index, qint64 bytes, qint64 total)
{
    Module &m = modules[index];
    if (!m.clock.isValid())
        m.clock.start();
    m.bytes = bytes;
    m.total = total;
    const int tenths = total > 0 ? int(bytes * 10 / total) : 0;
    if (mode == terminal || tenths <= m.tenths_shown)
        return;
    m.tenths_shown = tenths;
    if (mode == json) {
        write(json_line({{QStringLiteral("port"), m.port},
                         {QStringLiteral("event"), QStringLiteral("progress")},
                         {QStringLiteral("bytes"), bytes},
                         {QStringLiteral("total"), total}}));
    } else {
        write(status_line(m).toUtf8() + '\n');
    }
}

QString ProgressPrinter::result_line(const OperationRecord &r)
{
    if (!r.ok)
        return QStringLiteral("%1: failed: %2").arg(r.port, r.detail);
    if (r.operation != QLatin1String("query"))
        return QStringLiteral("%1: ok").arg(r.port);
    return QStringLiteral("%1: ok device_number=%2 imei_or_mac=%3 iccid_or_audio_version=%4 device_version=%5")
        .arg(r.port, r.device_number, r.imei_or_mac, r.iccid_or_audio_version, r.device_version);
}

void ProgressPrinter::result(int index, const OperationRecord &r)
{
    Module &m = modules[index];
    m.result = result_line(r);
    if (mode == json) {
        write(json_line({{QStringLiteral("port"), r.port},
                         {QStringLiteral("event"), QStringLiteral("result")},
                         {QStringLiteral("result"), r.ok ? QStringLiteral("ok") : QStringLiteral("failed")},
                         {QStringLiteral("detail"), r.ok ? QString() : r.detail},
                         {QStringLiteral("device_number"), r.device_number},
                         {QStringLiteral("imei_or_mac"), r.imei_or_mac},
                         {QStringLiteral("iccid_or_audio_version"), r.iccid_or_audio_version},
                         {QStringLiteral("device_version"), r.device_version}}));
    } else if (mode == plain) {
        write(m.result.toUtf8() + '\n');
    }
}

void ProgressPrinter::redraw()
{
    QByteArray text;
    // Back to the first module's line, then every line rewritten and cleared
    // to its end.
    if (lines_drawn > 0)
        text += "\x1b[" + QByteArray::number(lines_drawn) + "A";
    for (const Module &m : qAsConst(modules))
        text += "\r\x1b[K" + status_line(m).toUtf8() + '\n';
    lines_drawn = modules.size();
    write(text);
}

void ProgressPrinter::finish()
{
    if (mode != terminal)
        return;
    redraw_timer.stop();
    redraw();
}

void ProgressPrinter::write(const QByteArray &bytes)
{
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}
