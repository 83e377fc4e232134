#include "label/zpl_printer.h"

#include "label/printer_socket.h"
#include "label/zpl_label.h"


PrintResult ZplPrinter::read_host_status(const QByteArray &answer)
{
    // Each string: STX, comma-separated fields, ETX, CR LF.
    QList<QByteArrayList> strings;
    for (int from = 0;;) {
        const int stx = answer.indexOf('\x02', from), etx = answer.indexOf('\x03', stx + 1);
        if (stx < 0 || etx < 0)
            break;
        strings << answer.mid(stx + 1, etx - stx - 1).split(',');
        from = etx + 1;
    }
    if (strings.size() < 2 || strings[0].size() < 3 || strings[1].size() < 3)
        return {PrintResult::no_answer, QStringLiteral("no status (~HS) answer")};
    if (strings[0][1].trimmed() == "1")
        return {PrintResult::paper_out, QStringLiteral("paper out")};
    if (strings[1][2].trimmed() == "1")
        return {PrintResult::head_open, QStringLiteral("head open")};
    if (strings[0][2].trimmed() == "1")
        return {PrintResult::paused, QStringLiteral("paused")};
    return {};
}

PrintResult ZplPrinter::print(const LabelContent &content, const QString &)
{
    const qint64 deadline = PrinterSocket::now_ms() + wait_ms;
    PrinterSocket socket;
    QString error;
    if (!socket.connect(settings.host, settings.port, deadline, &error) || !socket.send("~HS", deadline, &error))
        return {PrintResult::no_answer, error};
    // Three strings, each ended by ETX CR LF.
    const QByteArray answer = socket.receive([](const QByteArray &in) { return in.count('\x03') >= 3; }, deadline);
    const PrintResult status = read_host_status(answer);
    if (!status.printed())
        return status;
    if (!socket.send(zpl_label(content, settings), deadline, &error))
        return {PrintResult::no_answer, error};
    // The job is the printer's once its port has taken every byte. Its close
    // is waited for (so that no reset overtakes the job's end) but not
    // required: a label taken for unprinted would print twice.
    socket.close(deadline);
    return {};
}
