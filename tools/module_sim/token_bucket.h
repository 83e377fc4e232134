#pragma once

#include "tools/module_sim/sim_clock.h"

#include <QtGlobal>

// Limits a byte stream to a line rate. Tokens (bytes) accrue continuously at
// the rate, up to a small capacity so that an idle line cannot later burst
// much faster than the wire. An unlimited bucket always has room.
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
    void refill(SimTime now);

    double rate_ = 0; // bytes per second; 0: unlimited
    qint64 capacity_ = 0;
    double tokens_ = 0;
    SimTime last_ {};
};
