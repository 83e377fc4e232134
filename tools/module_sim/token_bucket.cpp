#include "tools/module_sim/token_bucket.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {
SimClock::duration seconds(double s)
{
    return std::chrono::duration_cast<SimClock::duration>(std::chrono::duration<double>(s));
}
}

TokenBucket::TokenBucket(double bytes_per_second, qint64 capacity, SimTime now)
    : rate_(bytes_per_second), capacity_(std::max<qint64>(1, capacity)), free_at_(now), last_(now)
{
}

bool TokenBucket::idle(SimTime now) const
{
    // A paced reader or writer waits for up to `capacity` bytes after the
    // wire frees, then may wake up to `capacity` bytes late: only beyond
    // both has the wire really gone quiet.
    return free_at_ + seconds(2.0 * double(capacity_) / rate_) < now;
}

qint64 TokenBucket::available(SimTime now)
{
    if (!limited())
        return std::numeric_limits<qint64>::max();
    last_ = now;
    // An idle wire lets the first byte of a new burst through at once.
    if (idle(now))
        return 1;
    const double secs = std::chrono::duration<double>(now - free_at_).count();
    return std::max<qint64>(0, qint64(std::floor(secs * rate_ + 1e-6)));
}

void TokenBucket::take(qint64 bytes)
{
    if (!limited())
        return;
    // A new burst starts one byte time ago (the byte just let through);
    // a busy wire runs on from where it stopped.
    const SimTime start = idle(last_) ? last_ - seconds(1.0 / rate_) : free_at_;
    free_at_ = start + seconds(double(bytes) / rate_);
}

SimClock::duration TokenBucket::time_until(qint64 bytes, SimTime now)
{
    if (!limited())
        return SimClock::duration::zero();
    last_ = now;
    if (idle(now))
        return SimClock::duration::zero();
    const SimTime ready = free_at_ + seconds(double(std::min(bytes, capacity_)) / rate_);
    if (ready <= now)
        return SimClock::duration::zero();
    // Rounded up so that waking at the deadline always finds the bytes.
    return ready - now + std::chrono::microseconds(1);
}
