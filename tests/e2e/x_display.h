#pragma once

#include <QByteArray>
#include <QImage>
#include <QPoint>
#include <QProcess>
#include <QString>
#include <QStringList>

// A private X server (Xvfb) for driving the tool as an operator does, and
// the X clients that act on it: xdotool for input, ImageMagick's import for
// screenshots. Every wait is bounded.
class XDisplay
{
public:
    XDisplay() = default;
    ~XDisplay(); // stops the server
    XDisplay(const XDisplay &) = delete;
    XDisplay &operator=(const XDisplay &) = delete;

    // True when Xvfb and xdotool can be found on PATH.
    static bool tools_installed();

    // Starts Xvfb on a display number it picks itself (-displayfd), so that
    // parallel runs never collide.
    bool start(int timeout_ms = 10000);
    QString name() const { return display; } // ":N"
    void stop();

    // Runs an X client on this display; false when it fails to start, times
    // out or exits non-zero.
    bool run(const QString &program, const QStringList &args, QByteArray *out = nullptr,
             int timeout_ms = 5000) const;
    bool xdotool(const QStringList &args, QByteArray *out = nullptr, int timeout_ms = 5000) const;

    // The visible top-level windows of a process whose title contains
    // title_part; empty when there are none.
    QStringList visible_windows(qint64 pid, const QString &title_part = QString()) const;
    // Waits for exactly such a window to show up.
    QString wait_for_window(qint64 pid, const QString &title_part, int timeout_ms) const;
    QSize window_size(const QString &window) const;

    // Gives the window the keyboard focus (there is no window manager).
    bool focus(const QString &window) const;
    // A left click at a point of the window.
    bool click(const QString &window, const QPoint &at) const;
    // Key presses on whatever holds the focus, e.g. "ctrl+Tab", "End".
    bool keys(const QStringList &keys) const;
    // Writes a PNG of the window and returns what it shows.
    QImage capture(const QString &window, const QString &png_path) const;

private:
    QProcess server;
    QString display;
};
