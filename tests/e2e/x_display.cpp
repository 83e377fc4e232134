#include "tests/e2e/x_display.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QtCore/qtestsupport_core.h>

XDisplay::~XDisplay()
{
    stop();
}

bool XDisplay::tools_installed()
{
    return !QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty()
           && !QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty();
}

bool XDisplay::start(int timeout_ms)
{
    QElapsedTimer timer;
    timer.start();
    // -displayfd 1: the server takes the first free display number and
    // writes it to its stdout once it accepts clients.
    server.setProgram(QStringLiteral("Xvfb"));
    server.setArguments({QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                         QStringLiteral("0"), QStringLiteral("1280x800x24"), QStringLiteral("-nolisten"),
                         QStringLiteral("tcp")});
    server.setStandardInputFile(QProcess::nullDevice());
    server.start();
    if (!server.waitForStarted(timeout_ms)) {
        qWarning() << "Xvfb did not start:" << server.errorString();
        return false;
    }
    while (!server.canReadLine()) {
        const qint64 left = timeout_ms - timer.elapsed();
        if (left <= 0 || !server.waitForReadyRead(int(left))) {
            qWarning() << "Xvfb gave no display number; stderr:" << server.readAllStandardError();
            stop();
            return false;
        }
    }
    bool ok = false;
    const int number = server.readLine().trimmed().toInt(&ok);
    if (!ok)
        return false;
    display = QStringLiteral(":%1").arg(number);
    return true;
}

void XDisplay::stop()
{
    if (server.state() == QProcess::NotRunning)
        return;
    server.terminate();
    if (!server.waitForFinished(3000)) {
        server.kill();
        server.waitForFinished(3000);
    }
}

bool XDisplay::run(const QString &program, const QStringList &args, QByteArray *out, int timeout_ms) const
{
    QProcess client;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display);
    client.setProcessEnvironment(env);
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

bool XDisplay::xdotool(const QStringList &args, QByteArray *out, int timeout_ms) const
{
    return run(QStringLiteral("xdotool"), args, out, timeout_ms);
}

QStringList XDisplay::visible_windows(qint64 pid, const QString &title_part) const
{
    QStringList args {QStringLiteral("search"), QStringLiteral("--all"), QStringLiteral("--onlyvisible"),
                      QStringLiteral("--pid"), QString::number(pid)};
    if (!title_part.isEmpty())
        args << QStringLiteral("--name") << title_part; // a pattern: keep it to plain text
    QByteArray out;
    // xdotool exits with 1 when nothing matches.
    xdotool(args, &out);
    QStringList windows;
    for (const QByteArray &line : out.split('\n'))
        if (!line.trimmed().isEmpty())
            windows << QString::fromLatin1(line.trimmed());
    return windows;
}

QString XDisplay::wait_for_window(qint64 pid, const QString &title_part, int timeout_ms) const
{
    QStringList found;
    if (!QTest::qWaitFor([&] { return (found = visible_windows(pid, title_part)).size() == 1; }, timeout_ms))
        return QString();
    return found.first();
}

QSize XDisplay::window_size(const QString &window) const
{
    QByteArray out;
    if (!xdotool({QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), window}, &out))
        return {};
    int w = -1, h = -1;
    for (const QByteArray &line : out.split('\n')) {
        if (line.startsWith("WIDTH="))
            w = line.mid(6).toInt();
        else if (line.startsWith("HEIGHT="))
            h = line.mid(7).toInt();
    }
    return QSize(w, h);
}

bool XDisplay::focus(const QString &window) const
{
    return xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), window});
}

bool XDisplay::click(const QString &window, const QPoint &at) const
{
    return xdotool({QStringLiteral("mousemove"), QStringLiteral("--window"), window, QString::number(at.x()),
                    QString::number(at.y()), QStringLiteral("click"), QStringLiteral("1")});
}

bool XDisplay::keys(const QStringList &keys) const
{
    return xdotool(QStringList {QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("30")} + keys);
}

QImage XDisplay::capture(const QString &window, const QString &png_path) const
{
    if (!run(QStringLiteral("import"), {QStringLiteral("-window"), window, png_path}, nullptr, 10000))
        return {};
    // Left in the file's own format (a plain page comes as a palette image):
    // pixel() reads every format, and a conversion would go through Qt's
    // thread pool for nothing.
    return QImage(png_path);
}
