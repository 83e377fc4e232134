#pragma once

#include "tools/module_sim/sim_clock.h"

#include <QByteArray>
#include <QString>

#include <deque>
#include <optional>

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

    // Reading: what the tool wrote is taken from the pty as soon as it is
    // there and handed on once the wire would have carried it, each piece at
    // the moment its last byte arrives. An answer then goes out exactly when
    // a real line allows, at one wake-up per piece rather than one every
    // few bytes.
    // Room to take more (much still on its way holds the tool back).
    bool wants_input() const { return arriving_bytes_ < kMaxArriving; }
    // Takes what the pty holds; sets failed when the line broke.
    void pull(SimTime now, bool &failed);
    // What has arrived by now, in order; empty when nothing has.
    QByteArray take_arrived(SimTime now);
    std::optional<SimTime> next_arrival() const;

    // Writing: a piece of data goes into the pty whole once the wire would
    // have carried its last byte (a reply of up to 64 bytes is one piece).
    // Returns the byte count written (0 when it has to wait), -1 when the
    // line broke.
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
    struct Arriving
    {
        SimTime at;  // its last byte's arrival
        QByteArray bytes;
    };
    static constexpr qint64 kMaxArriving = 65536;
    std::deque<Arriving> arriving_;
    qint64 arriving_bytes_ = 0;
    static SimClock::duration wire_time(double rate, qint64 bytes);
    double in_rate_ = 0;   // bytes per second; 0: no pacing
    SimTime in_free_at_ {}; // the wire has carried everything pulled so far
    double out_rate_ = 0;
    SimTime out_free_at_ {};        // ... everything written so far
    std::optional<SimTime> out_due_; // the piece on the wire now is across
    bool write_blocked_ = false;
};
