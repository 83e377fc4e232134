#pragma once

#include <chrono>

// Every timing decision of the simulator (reply delays, request repeats,
// frame timeouts, line pacing) runs on one monotonic clock so that a change
// of the wall clock never shifts a deadline.
using SimClock = std::chrono::steady_clock;
using SimTime = SimClock::time_point;

inline SimClock::duration sim_ms(long long ms)
{
    return std::chrono::milliseconds(ms);
}
