#include "label/label_printer.h"

#include <QProcess>

// CUPS's lp, raw: the queue's printer gets the ZPL as it stands.
PrintResult print_to_queue(const QString &queue, const QByteArray &zpl, const QString &name)
{
    QProcess lp;
    lp.start(QStringLiteral("lp"), {QStringLiteral("-d"), queue, QStringLiteral("-o"), QStringLiteral("raw"),
                                    QStringLiteral("-t"), name, QStringLiteral("-")});
    if (!lp.waitForStarted(5000))
        return {PrintResult::refused, QStringLiteral("lp: ") + lp.errorString()};
    lp.write(zpl);
    lp.closeWriteChannel();
    if (!lp.waitForFinished(10000)) {
        lp.kill();
        lp.waitForFinished(1000);
        return {PrintResult::no_answer, QStringLiteral("lp did not finish within 10 s")};
    }
    if (lp.exitStatus() != QProcess::NormalExit || lp.exitCode() != 0)
        return {PrintResult::refused, QString::fromLocal8Bit(lp.readAllStandardError()).trimmed()};
    return {};
}
