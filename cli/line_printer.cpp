#include "cli/line_printer.h"

#include "cli/output_format.h"

#include <cstdio>

namespace {

const char green[] = "\x1b[1;32m", red[] = "\x1b[1;31m", dim[] = "\x1b[2m", plain_colour[] = "\x1b[0m";

QJsonObject port_event(const QString &port, const char *event)
{
    return {{QStringLiteral("port"), port}, {QStringLiteral("event"), QLatin1String(event)}};
}

} // namespace

LinePrinter::LinePrinter(Mode mode, const QString &header, QObject *parent)
    : QObject(parent)
    , mode(mode)
    , header(header)
{
    running.start();
    redraw_timer.setInterval(200);
    connect(&redraw_timer, &QTimer::timeout, this, &LinePrinter::redraw);
    if (mode == terminal) {
        redraw_timer.start();
        redraw();
    } else if (mode == plain) {
        write_out(header.toUtf8() + '\n');
    }
}

LinePrinter::Port *LinePrinter::find(const QString &name)
{
    for (Port &port : ports) {
        if (port.name == name && !port.gone.isValid())
            return &port;
    }
    return nullptr;
}

void LinePrinter::arrival(const QString &name, const QString &operation)
{
    // A port that comes back replaces the line it left behind.
    for (int i = ports.size() - 1; i >= 0; --i) {
        if (ports.at(i).name == name)
            ports.removeAt(i);
    }
    Port port;
    port.name = name;
    port.operation = operation;
    ports.append(port);
    if (mode == json)
        write_out(json_line(port_event(name, "arrival")));
    else if (mode == plain)
        write_out(QStringLiteral("%1: arrived").arg(name).toUtf8() + '\n');
}

void LinePrinter::progress(const QString &name, qint64 bytes, qint64 total)
{
    Port *port = find(name);
    if (!port)
        return;
    if (!port->clock.isValid())
        port->clock.start();
    port->bytes = bytes;
    port->total = total;
    const int tenths = total > 0 ? int(bytes * 10 / total) : 0;
    if (mode == terminal || tenths <= port->tenths_shown)
        return;
    port->tenths_shown = tenths;
    if (mode == json) {
        QJsonObject event = port_event(name, "progress");
        event.insert(QStringLiteral("bytes"), double(bytes));
        event.insert(QStringLiteral("total"), double(total));
        write_out(json_line(event));
    } else {
        write_out(QStringLiteral("%1: %2 %3%").arg(name, port->operation).arg(bytes * 100 / total).toUtf8() + '\n');
    }
}

void LinePrinter::result(const OperationRecord &record)
{
    ++served;
    ++(record.ok ? ok : failed);
    // The port's line may already be fading out: its result still shows.
    for (Port &port : ports) {
        if (port.name == record.port && !port.done) {
            port.done = true;
            port.ok = record.ok;
            port.result = record.ok ? QStringLiteral("OK %1").arg(record.device_number)
                                    : QStringLiteral("FAILED %1").arg(record.detail);
        }
    }
    if (mode == json)
        write_out(json_line(result_json(record)));
    else if (mode == plain)
        write_out(result_line(record).toUtf8() + '\n');
}

void LinePrinter::removal(const QString &name)
{
    if (Port *port = find(name))
        port->gone.start();
    if (mode == json)
        write_out(json_line(port_event(name, "removal")));
    else if (mode == plain)
        write_out(QStringLiteral("%1: removed").arg(name).toUtf8() + '\n');
}

void LinePrinter::notice(const QString &line)
{
    if (mode == terminal)
        erase_live_lines();
    const QByteArray bytes = QStringLiteral("kv20-cli: %1\n").arg(line).toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
    if (mode == terminal)
        redraw();
}

QString LinePrinter::port_line(const Port &port) const
{
    QString text;
    if (port.done) {
        text = (port.ok ? QLatin1String(green) : QLatin1String(red)) + port.result + QLatin1String(plain_colour);
    } else if (port.total <= 0) {
        // Until the first block is acknowledged: the identity query, then the
        // download command.
        text = QStringLiteral("querying");
    } else {
        const double seconds = port.clock.elapsed() / 1000.0;
        text = QStringLiteral("%1 %2% %3")
                   .arg(port.operation)
                   .arg(port.bytes * 100 / port.total)
                   .arg(rate_text(seconds > 0 ? port.bytes / seconds : 0));
    }
    QString line = QStringLiteral("%1  %2").arg(port.name, -10).arg(text);
    if (port.gone.isValid())
        line += QLatin1String(dim) + QStringLiteral("  (unplugged)") + QLatin1String(plain_colour);
    return line;
}

QString LinePrinter::summary() const
{
    const qint64 seconds = running.elapsed() / 1000;
    const double hours = running.elapsed() / 3600000.0;
    return QStringLiteral("served %1  ok %2  failed %3  %4 modules/h  running %5:%6:%7")
        .arg(served)
        .arg(ok)
        .arg(failed)
        .arg(hours > 0 ? qRound(served / hours) : 0)
        .arg(seconds / 3600)
        .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

void LinePrinter::erase_live_lines()
{
    if (lines_drawn > 0)
        write_out("\x1b[" + QByteArray::number(lines_drawn) + "A\r\x1b[J");
    lines_drawn = 0;
}

void LinePrinter::redraw()
{
    for (int i = ports.size() - 1; i >= 0; --i) {
        if (ports.at(i).gone.isValid() && ports.at(i).gone.elapsed() >= gone_line_ms)
            ports.removeAt(i);
    }
    QByteArray text;
    if (lines_drawn > 0)
        text += "\x1b[" + QByteArray::number(lines_drawn) + "A";
    QStringList lines {header};
    for (const Port &port : qAsConst(ports))
        lines << port_line(port);
    lines << summary();
    for (const QString &line : qAsConst(lines))
        text += "\r\x1b[K" + line.toUtf8() + '\n';
    // A block shorter than the last one leaves no old lines below it.
    text += "\x1b[J";
    lines_drawn = lines.size();
    write_out(text);
}

void LinePrinter::finish(int records_not_in_journal)
{
    const QString not_kept = records_not_in_journal > 0
                                 ? QStringLiteral(", %1 records did not reach the journal (see the side file)")
                                       .arg(records_not_in_journal)
                                 : QString();
    if (mode == terminal) {
        redraw_timer.stop();
        redraw();
        if (!not_kept.isEmpty())
            write_out(not_kept.mid(2).toUtf8() + '\n');
    } else if (mode == json) {
        QJsonObject event {{QStringLiteral("event"), QStringLiteral("summary")},
                           {QStringLiteral("served"), served},
                           {QStringLiteral("ok"), ok},
                           {QStringLiteral("failed"), failed},
                           {QStringLiteral("running_ms"), double(running.elapsed())},
                           {QStringLiteral("not_in_journal"), records_not_in_journal}};
        write_out(json_line(event));
    } else {
        write_out((summary() + not_kept).toUtf8() + '\n');
    }
}
