#include "cli/live_printer.h"

#include "cli/cli_messages.h"
#include "cli/output_format.h"

namespace {

const char green[] = "\x1b[1;32m", red[] = "\x1b[1;31m", dim[] = "\x1b[2m", plain_colour[] = "\x1b[0m";

} // namespace

LivePrinter::LivePrinter(Mode mode, const QString &header, QObject *parent)
    : QObject(parent)
    , mode(mode)
    , line_mode(!header.isEmpty())
    , header(shown_text(header))
{
    running.start();
    // Redrawing at every block would cost more than the transfer on a slow
    // terminal; five times a second reads as live.
    redraw_timer.setInterval(200);
    connect(&redraw_timer, &QTimer::timeout, this, &LivePrinter::redraw);
    if (mode == terminal) {
        redraw_timer.start();
        if (line_mode)
            redraw();
    } else if (mode == plain && line_mode) {
        write_out(header.toUtf8() + '\n');
    }
}

LivePrinter::Module *LivePrinter::find(int id)
{
    for (Module &module : modules) {
        if (module.id == id)
            return &module;
    }
    return nullptr;
}

void LivePrinter::event(const QString &port, const char *name, const QString &plain_text)
{
    if (mode == json)
        write_out(json_line({{QStringLiteral("port"), port}, {QStringLiteral("event"), QLatin1String(name)}}));
    else if (mode == plain)
        write_out(QStringLiteral("%1: %2").arg(shown_text(port), plain_text).toUtf8() + '\n');
}

void LivePrinter::arrival(int id, const QString &port, const QString &, const QString &operation)
{
    // A port that comes back replaces the line it left behind.
    for (int i = modules.size() - 1; i >= 0; --i) {
        if (modules.at(i).port == port && modules.at(i).gone.isValid())
            modules.removeAt(i);
    }
    Module module;
    module.id = id;
    module.port = port;
    module.operation = operation;
    modules.append(module);
    if (line_mode)
        event(port, "arrival", QStringLiteral("arrived"));
}

void LivePrinter::progress(int id, qint64 bytes, qint64 total)
{
    Module *m = find(id);
    if (!m || m->done)
        return;
    if (!m->clock.isValid())
        m->clock.start();
    m->bytes = bytes;
    m->total = total;
    const int tenths = total > 0 ? int(bytes * 10 / total) : 0;
    if (mode == terminal || tenths <= m->tenths_shown)
        return;
    m->tenths_shown = tenths;
    if (mode == json) {
        write_out(json_line({{QStringLiteral("port"), m->port},
                             {QStringLiteral("event"), QStringLiteral("progress")},
                             {QStringLiteral("bytes"), double(bytes)},
                             {QStringLiteral("total"), double(total)}}));
    } else {
        write_out(QStringLiteral("%1: %2").arg(shown_text(m->port), running_text(*m)).toUtf8() + '\n');
    }
}

void LivePrinter::finished(int id, const OperationRecord &record, bool done_before, const JournalOutcome &)
{
    const QString already = QStringLiteral("already done %1").arg(shown_text(record.device_number));
    const QString port = shown_text(record.port);
    // An unplugged port's line may be fading out: its own result still shows.
    if (Module *m = find(id)) {
        m->done = true;
        m->ok = record.ok;
        m->result = done_before    ? (line_mode ? already : QStringLiteral("%1: %2").arg(port, already))
                    : !line_mode   ? result_line(record)
                    : record.ok    ? QStringLiteral("OK %1").arg(shown_text(record.device_number))
                                   : QStringLiteral("FAILED %1").arg(shown_text(detail_of(record)));
    }
    if (mode == json) {
        QJsonObject object = result_json(record);
        if (done_before)
            object.insert(QStringLiteral("already_done"), true);
        write_out(json_line(object));
    } else if (mode == plain) {
        write_out((done_before ? QStringLiteral("%1: %2").arg(port, already) : result_line(record)).toUtf8()
                  + '\n');
    }
}

void LivePrinter::departure(int id)
{
    Module *m = find(id);
    if (!m)
        return;
    m->gone.start();
    event(m->port, "removal", QStringLiteral("removed"));
}

void LivePrinter::notice(const QString &line)
{
    if (mode == terminal)
        erase_live_lines();
    write_out(QStringLiteral("kv20-cli: %1\n").arg(shown_text(line)).toUtf8(), stderr);
    if (mode == terminal)
        redraw();
}

// Until the first block is acknowledged: the identity query, then the
// download command.
QString LivePrinter::running_text(const Module &m) const
{
    if (m.total <= 0)
        return QStringLiteral("querying");
    const double seconds = m.clock.isValid() ? m.clock.elapsed() / 1000.0 : 0;
    const double rate = seconds > 0 ? m.bytes / seconds : 0;
    const QString left = rate > 0 ? QStringLiteral("%1 s left").arg(qRound64((m.total - m.bytes) / rate))
                                  : QStringLiteral("-- s left");
    return QStringLiteral("%1 %2% %3/%4 bytes %5 %6")
        .arg(m.operation)
        .arg(m.bytes * 100 / m.total)
        .arg(m.bytes)
        .arg(m.total)
        .arg(rate_text(rate), left);
}

QString LivePrinter::live_line(const Module &m) const
{
    if (!line_mode)
        return m.done ? m.result : QStringLiteral("%1: %2").arg(shown_text(m.port), running_text(m));
    const QString text = !m.done ? running_text(m)
                                 : (m.ok ? QLatin1String(green) : QLatin1String(red)) + m.result
                                       + QLatin1String(plain_colour);
    QString line = QStringLiteral("%1  %2").arg(shown_text(m.port), -10).arg(text);
    if (m.gone.isValid())
        line += QLatin1String(dim) + QStringLiteral("  (unplugged)") + QLatin1String(plain_colour);
    return line;
}

void LivePrinter::backlog(const BackgroundUpload::State &state)
{
    const qint64 records = state.waiting;
    const QStringList &unreadable = state.unreadable;
    const QString &problem = state.problem;
    waiting = records;
    unreadable_rows = unreadable.size();
    // Each row that is no record named once, where the operator reads.
    for (const QString &row : unreadable) {
        if (rows_named.contains(row))
            continue;
        rows_named.insert(row);
        if (mode == json)
            write_out(json_line({{QStringLiteral("event"), QStringLiteral("unreadable")}, {QStringLiteral("row"), row}}));
        else
            notice(QStringLiteral("unreadable row, not uploaded: ") + row);
    }
    if (mode == json)
        write_out(json_line({{QStringLiteral("event"), QStringLiteral("backlog")},
                             {QStringLiteral("waiting"), double(records)},
                             {QStringLiteral("unreadable"), unreadable_rows},
                             {QStringLiteral("problem"), problem}}));
    else if (mode == plain)
        say(QStringLiteral("%1 records waiting%2%3")
                .arg(records)
                .arg(unreadable_rows > 0 ? QStringLiteral(", %1 unreadable rows").arg(unreadable_rows) : QString())
                .arg(problem.isEmpty() ? QString() : QStringLiteral(": ") + shown_text(problem)));
    else if (!problem.isEmpty())
        notice(problem);
}

QString LivePrinter::summary() const
{
    const qint64 seconds = running.elapsed() / 1000;
    const double hours = running.elapsed() / 3600000.0;
    const int served = shown.served();
    return QStringLiteral("served %1  ok %2  failed %3  already done %4  %5 modules/h  running %6:%7:%8")
        .arg(served)
        .arg(shown.ok)
        .arg(shown.failed)
        .arg(shown.already_done)
        .arg(hours > 0 ? qRound(served / hours) : 0)
        .arg(seconds / 3600)
        .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'))
        + (waiting > 0 ? QStringLiteral("  %1 records waiting").arg(waiting) : QString())
        + (unreadable_rows > 0 ? QStringLiteral("  %1 unreadable rows").arg(unreadable_rows) : QString());
}

void LivePrinter::erase_live_lines()
{
    if (lines_drawn > 0)
        write_out("\x1b[" + QByteArray::number(lines_drawn) + "A\r\x1b[J");
    lines_drawn = 0;
}

void LivePrinter::redraw()
{
    for (int i = modules.size() - 1; i >= 0; --i) {
        if (modules.at(i).gone.isValid() && modules.at(i).gone.elapsed() >= gone_line_ms)
            modules.removeAt(i);
    }
    QStringList lines;
    if (line_mode)
        lines << header;
    for (const Module &m : qAsConst(modules))
        lines << live_line(m);
    if (line_mode)
        lines << summary();
    // Back to the first line, every line rewritten and cleared to its end; a
    // block shorter than the last one leaves no old lines below it.
    QByteArray text;
    if (lines_drawn > 0)
        text += "\x1b[" + QByteArray::number(lines_drawn) + "A";
    for (const QString &line : qAsConst(lines))
        text += "\r\x1b[K" + line.toUtf8() + '\n';
    text += "\x1b[J";
    lines_drawn = lines.size();
    write_out(text);
}

void LivePrinter::finish()
{
    // The commands that serve modules once say it by their exit status.
    const int records_not_in_journal = line_mode ? shown.not_in_journal : 0;
    redraw_timer.stop();
    const QString not_kept = records_not_in_journal > 0
                                 ? QStringLiteral("%1 records did not reach the journal (see the side file)")
                                       .arg(records_not_in_journal)
                                 : QString();
    if (mode == terminal) {
        redraw();
        if (!not_kept.isEmpty())
            write_out(not_kept.toUtf8() + '\n');
    } else if (!line_mode) {
        return;
    } else if (mode == json) {
        write_out(json_line({{QStringLiteral("event"), QStringLiteral("summary")},
                             {QStringLiteral("served"), shown.served()},
                             {QStringLiteral("ok"), shown.ok},
                             {QStringLiteral("failed"), shown.failed},
                             {QStringLiteral("already_done"), shown.already_done},
                             {QStringLiteral("running_ms"), double(running.elapsed())},
                             {QStringLiteral("not_in_journal"), records_not_in_journal},
                             {QStringLiteral("waiting"), double(qMax<qint64>(waiting, 0))},
                             {QStringLiteral("unreadable"), unreadable_rows}}));
    } else {
        write_out((summary() + (not_kept.isEmpty() ? QString() : QStringLiteral(", ") + not_kept)).toUtf8() + '\n');
    }
}
