#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <climits>

// The tool's side of the simulated serial port, opened with plain POSIX calls
// so the tests see exactly the bytes the module puts on the line. Every read
// waits on poll() with a bound.
class SimPort
{
public:
    explicit SimPort(const QString &path);
    ~SimPort();
    SimPort(const SimPort &) = delete;
    SimPort &operator=(const SimPort &) = delete;

    bool ok() const { return fd >= 0; }
    bool write(const QByteArray &bytes);

    struct Burst
    {
        qint64 start_ms = 0;  // since the call
        qint64 end_ms = 0;
        QByteArray bytes;
    };
    // Arrivals until the line was quiet for quiet_ms after the first byte,
    // timeout_ms passed in all, or `limit` bytes came; a pause longer than
    // gap_ms starts a new burst.
    QList<Burst> read_bursts(int gap_ms, int quiet_ms, int timeout_ms, int limit = INT_MAX);
    static QByteArray joined(const QList<Burst> &bursts);
    QByteArray read_for(int quiet_ms, int timeout_ms) { return joined(read_bursts(INT_MAX, quiet_ms, timeout_ms)); }
    // Exactly n bytes, or fewer when timeout_ms passes first.
    QByteArray read_exact(int n, int timeout_ms) { return joined(read_bursts(INT_MAX, timeout_ms, timeout_ms, n)); }
    // Writes a command line and returns the reply (40 ms of quiet end it).
    QByteArray ask(const QByteArray &line, int timeout_ms = 1000)
    {
        return write(line) ? read_for(40, timeout_ms) : QByteArray();
    }
    // True once the far end vanished (hang-up, or end of file or I/O error on read).
    bool wait_vanished(int timeout_ms);

private:
    int fd = -1;
};
