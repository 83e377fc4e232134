#include "cli/progress_printer.h"

#include "cli/output_format.h"


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

void ProgressPrinter::result(int index, const OperationRecord &r)
{
    Module &m = modules[index];
    m.result = result_line(r);
    if (mode == json) {
        write(json_line(result_json(r)));
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
    write_out(bytes);
}
