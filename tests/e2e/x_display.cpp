#include "tests/e2e/x_display.h"

#include <QDebug>
#include <QDeadlineTimer>
#include <QStandardPaths>
#include <QtCore/qtestsupport_core.h>

void stop_process(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(3000)) {
        process.kill();
        process.waitForFinished(3000);
    }
}

bool XDisplay::tools_installed()
{
    return !QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty()
           && !QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty();
}

bool XDisplay::start(int timeout_ms)
{
    const QDeadlineTimer deadline(timeout_ms);
    // -displayfd 1: the server takes the first free display number and
    // writes it to its stdout once it accepts clients.
    server.setStandardInputFile(QProcess::nullDevice());
    server.start(QStringLiteral("Xvfb"), {"-displayfd", "1", "-screen", "0", "1280x800x24", "-nolisten", "tcp"});
    if (!server.waitForStarted(timeout_ms)) {
        qWarning() << "Xvfb did not start:" << server.errorString();
        return false;
    }
    while (!server.canReadLine()) {
        if (deadline.hasExpired() || !server.waitForReadyRead(int(deadline.remainingTime()))) {
            qWarning() << "Xvfb gave no display number; stderr:" << server.readAllStandardError();
            stop_process(server);
            return false;
        }
    }
    bool ok = false;
    display = QStringLiteral(":%1").arg(server.readLine().trimmed().toInt(&ok));
    return ok;
}

QProcessEnvironment XDisplay::environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display);
    // Its event loop runs on GLib, which needs suppressions of its own.
    QStringList tsan = env.value(QStringLiteral("TSAN_OPTIONS")).split(QLatin1Char(':'), Qt::SkipEmptyParts);
    for (QString &part : tsan)
        if (part.startsWith(QStringLiteral("suppressions=")))
            part = QStringLiteral("suppressions=" KV20_E2E_TSAN_SUPPRESSIONS);
    if (!tsan.isEmpty())
        env.insert(QStringLiteral("TSAN_OPTIONS"), tsan.join(QLatin1Char(':')));
    return env;
}

bool XDisplay::run(const QString &program, const QStringList &args, QByteArray *out, int timeout_ms) const
{
    QProcess client;
    client.setProcessEnvironment(environment());
    client.setStandardInputFile(QProcess::nullDevice());
    client.start(program, args);
    if (!client.waitForStarted(timeout_ms))
        return false;
    if (!client.waitForFinished(timeout_ms)) {
        qWarning() << program << args << "did not finish within" << timeout_ms << "ms";
        client.kill();
        client.waitForFinished(1000);
        return false;
    }
    if (out)
        *out = client.readAllStandardOutput();
    return client.exitStatus() == QProcess::NormalExit && client.exitCode() == 0;
}

bool XDisplay::xdotool(const QStringList &args, QByteArray *out) const
{
    return run(QStringLiteral("xdotool"), args, out);
}

QStringList XDisplay::visible_windows(qint64 pid, const QString &title_part) const
{
    QStringList args {"search", "--all", "--onlyvisible", "--pid", QString::number(pid)};
    if (!title_part.isEmpty())
        args << "--name" << title_part;
    QByteArray out;
    xdotool(args, &out); // exits with 1 when nothing matches
    return QString::fromLatin1(out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QString XDisplay::wait_for_window(qint64 pid, const QString &title_part, int timeout_ms) const
{
    QStringList found;
    const bool one = QTest::qWaitFor([&] { return (found = visible_windows(pid, title_part)).size() == 1; }, timeout_ms);
    return one ? found.first() : QString();
}

QSize XDisplay::window_size(const QString &window) const
{
    QByteArray out;
    xdotool({"getwindowgeometry", "--shell", window}, &out);
    QSize size(-1, -1);
    for (const QByteArray &line : out.split('\n')) {
        if (line.startsWith("WIDTH="))
            size.setWidth(line.mid(6).toInt());
        else if (line.startsWith("HEIGHT="))
            size.setHeight(line.mid(7).toInt());
    }
    return size;
}

bool XDisplay::focus(const QString &window) const
{
    return xdotool({"windowfocus", "--sync", window});
}

bool XDisplay::click(const QString &window, const QPoint &at) const
{
    return xdotool({"mousemove", "--window", window, QString::number(at.x()), QString::number(at.y()), "click", "1"});
}

bool XDisplay::keys(const QStringList &keys) const
{
    return xdotool(QStringList {"key", "--delay", "30"} + keys);
}

QImage XDisplay::capture(const QString &window, const QString &png_path) const
{
    if (!run(QStringLiteral("import"), {"-window", window, png_path}, nullptr, 10000))
        return {};
    // Left in the file's own format (a plain page comes as a palette image):
    // pixel() reads every format, and a conversion would go through Qt's
    // thread pool for nothing.
    return QImage(png_path);
}
