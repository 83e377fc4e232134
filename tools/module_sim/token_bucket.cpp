#include "tools/module_sim/token_bucket.h"

#include <algorithm>
#include <cmath>
#include <limits>

TokenBucket::TokenBucket(double bytes_per_second, qint64 capacity, SimTime now)
    : rate_(bytes_per_second), capacity_(std::max<qint64>(1, capacity)), tokens_(double(capacity_)), last_(now)
{
}

void TokenBucket::refill(SimTime now)
{
    if (now <= last_)
        return;
    const double secs = std::chrono::duration<double>(now - last_).count();
    tokens_ = std::min(double(capacity_), tokens_ + secs * rate_);
    last_ = now;
}

qint64 TokenBucket::available(SimTime now)
{
    if (!limited())
        return std::numeric_limits<qint64>::max();
    refill(now);
    return qint64(std::floor(tokens_));
}

void TokenBucket::take(qint64 bytes)
{
    if (limited())
        tokens_ -= double(bytes);
}

SimClock::duration TokenBucket::time_until(qint64 bytes, SimTime now)
{
    if (!limited())
        return SimClock::duration::zero();
    refill(now);
    const double missing = double(std::min(bytes, capacity_)) - tokens_;
    if (missing <= 0)
        return SimClock::duration::zero();
    // Rounded up so that waking at the deadline always finds the tokens.
    const auto ns = std::chrono::nanoseconds(qint64(std::ceil(missing / rate_ * 1e9)) + 1);
    return std::chrono::duration_cast<SimClock::duration>(ns);
}
