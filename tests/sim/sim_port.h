#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QString>

// The tool's side of the simulated serial port, opened with plain POSIX calls
// so the tests see exactly the bytes the module puts on the line. All reads
// wait on poll() with a bound.
class SimPort
{
public:
    explicit SimPort(const QString &path);
    ~SimPort();
    SimPort(const SimPort &) = delete;
    SimPort &operator=(const SimPort &) = delete;

    bool ok() const { return fd_ >= 0; }
    bool write(const QByteArray &bytes);
    void close();

    // Waits up to timeout_ms for data, then collects until the line has been
    // quiet for quiet_ms.
    QByteArray read_for(int quiet_ms, int timeout_ms);
    // Exactly n bytes, or fewer when timeout_ms passes first.
    QByteArray read_exact(int n, int timeout_ms);
    // Writes a command line and returns the reply (quiet 40 ms ends it).
    QByteArray ask(const QByteArray &line, int timeout_ms = 1000);

    // Arrivals grouped into bursts: a pause longer than gap_ms starts a new
    // one. Collects until the line was quiet for quiet_ms after the first
    // byte, or timeout_ms in all. Times are ms since the call.
    struct Burst
    {
        qint64 start_ms = 0;
        qint64 end_ms = 0;
        QByteArray bytes;
    };
    QList<Burst> read_bursts(int gap_ms, int quiet_ms, int timeout_ms);

    // True once the far end vanished (hang-up or I/O error on read).
    bool wait_vanished(int timeout_ms);

private:
    int fd_ = -1;
};
