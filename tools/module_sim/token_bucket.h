#pragma once

#include "tools/module_sim/sim_clock.h"

#include <QtGlobal>

// Limits a byte stream to a line rate, as a wire does: each byte that passes
// occupies the wire for 1/rate, and the wire runs on from where it stopped.
// While it is busy, a wakeup that comes late costs nothing (the time is
// credited, up to `capacity` bytes of lateness beyond the wait); once it has been idle for
// longer than that, a new burst starts from the moment it is noticed, with
// no saved-up credit. An unlimited bucket always has room.
class TokenBucket
{
public:
    TokenBucket() = default; // unlimited
    TokenBucket(double bytes_per_second, qint64 capacity, SimTime now);

    bool limited() const { return rate_ > 0; }
    qint64 capacity() const { return capacity_; }
    // Whole bytes that may pass now.
    qint64 available(SimTime now);
    void take(qint64 bytes);
    // How long until `bytes` (capped at the capacity) may pass.
    SimClock::duration time_until(qint64 bytes, SimTime now);

private:
    // Idle: nothing has passed for longer than the lateness allowance.
    bool idle(SimTime now) const;

    double rate_ = 0; // bytes per second; 0: unlimited
    qint64 capacity_ = 0;
    SimTime free_at_ {}; // the wire has carried everything taken so far
    SimTime last_ {};    // the time of the last available()/time_until()
};
