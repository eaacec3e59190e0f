#pragma once

#include <cstdint>

// Counts changes of the comparison locale, so that per-thread collators know when to remake
// themselves. Starts at 1; any thread.
uint64_t ZELStringComparisonLocaleGeneration();
