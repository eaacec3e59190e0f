#pragma once

#include <cstdint>
#include <functional>

// Ticks of 1/60 second on a monotonic clock, counted from the first call in the process.
// Used for rate limits and progress intervals.
uint32_t ZELTickCount();

// Replaces the tick source (tests drive time by hand); an empty function restores the clock.
void ZELSetTickSourceForTesting(std::function<uint32_t()> source);
