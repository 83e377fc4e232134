#pragma once

#include <QByteArray>
#include <QImage>
#include <QPoint>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// Terminates the process, and kills it if it is still there after 3 s.
void stop_process(QProcess &process);

// A private X server (Xvfb) for driving the tool as an operator does, and
// the X clients that act on it: xdotool for input, ImageMagick's import for
// screenshots. Every wait is bounded.
class XDisplay
{
public:
    XDisplay() = default;
    ~XDisplay() { stop_process(server); }
    XDisplay(const XDisplay &) = delete;
    XDisplay &operator=(const XDisplay &) = delete;

    // True when Xvfb and xdotool can be found on PATH.
    static bool tools_installed();

    // Starts Xvfb on a display number it picks itself (-displayfd), so that
    // parallel runs never collide.
    bool start(int timeout_ms = 10000);
    // The environment of a client on this display; in a ThreadSanitizer
    // build, with the suppressions for a Qt application on X11.
    QProcessEnvironment environment() const;

    // Runs an X client on this display; true when it exits with 0 in time.
    bool run(const QString &program, const QStringList &args, QByteArray *out = nullptr,
             int timeout_ms = 5000) const;
    bool xdotool(const QStringList &args, QByteArray *out = nullptr) const;

    // The visible top-level windows of a process, those whose title contains
    // title_part; wait_for_window waits for exactly one, empty on timeout.
    QStringList visible_windows(qint64 pid, const QString &title_part = QString()) const;
    QString wait_for_window(qint64 pid, const QString &title_part, int timeout_ms) const;
    QSize window_size(const QString &window) const;

    // Gives the window the keyboard focus (there is no window manager).
    bool focus(const QString &window) const;
    bool click(const QString &window, const QPoint &at) const;
    // Key presses on whatever holds the focus, e.g. "ctrl+Tab", "End".
    bool keys(const QStringList &keys) const;
    // Writes a PNG of the window and returns what it shows.
    QImage capture(const QString &window, const QString &png_path) const;

private:
    QProcess server;
    QString display;
};
