#pragma once

#include "tools/module_sim/sim_clock.h"
#include "tools/module_sim/token_bucket.h"

#include <QByteArray>
#include <QString>

// The module's end of the serial line: the master side of a pseudo-terminal
// whose slave the tool opens as its serial port. A slave descriptor of our
// own stays open for the whole life of the line, so the master never sees a
// hang-up while the tool has the port closed. With pacing, bytes pass in
// both directions no faster than a real UART at the given baud rate.
class PtyLine
{
public:
    PtyLine() = default;
    ~PtyLine();
    PtyLine(const PtyLine &) = delete;
    PtyLine &operator=(const PtyLine &) = delete;

    bool open(QString &error);
    // 10 bits per byte (start, 8 data, stop); baud 0 turns pacing off.
    void set_pace(int baud, SimTime now);
    // Closes master and our own slave: the device vanishes for the tool.
    void close();
    // While not openable, the tool's open of the port fails (the pty stays
    // locked, as before unlockpt), as a port still held or not yet ready
    // does; a port already open is not affected.
    void set_openable(bool openable);
    // Drops whatever the tool wrote and the module has not read, and what
    // the module wrote and the tool has not read.
    void discard_pending();

    bool is_open() const { return master_ >= 0; }
    int master_fd() const { return master_; }
    QString slave_path() const { return slave_path_; }
    // <n> of /dev/pts/<n>, or -1.
    int pty_number() const;

    // Reading: allowed when pacing has room for at least one byte.
    bool read_allowed(SimTime now);
    SimClock::duration read_wait(SimTime now);
    // Up to what pacing allows now; empty when nothing is waiting. Sets
    // failed when the line broke.
    QByteArray read(SimTime now, bool &failed);

    // Writes as much of data as pacing and the pty buffer take now; returns
    // the byte count (0 when it has to wait), -1 when the line broke.
    qint64 write(const char *data, qint64 size, SimTime now);
    // When a write of `size` more bytes can make progress as far as pacing
    // is concerned.
    SimClock::duration write_wait(qint64 size, SimTime now);
    // The last write found the pty buffer full: wait for POLLOUT.
    bool write_blocked() const { return write_blocked_; }
    // Bytes we wrote that the tool has not read yet. Closing the master
    // discards them, which a real unplug would not do to bytes already sent.
    int unread_by_tool() const;

private:
    int master_ = -1;
    int own_slave_ = -1;
    QString slave_path_;
    TokenBucket in_;
    TokenBucket out_;
    bool write_blocked_ = false;
};
