// The millisecond clock of the legacy decoder: a free-running, wrapping
// 32-bit count from a monotonic source. Tests drive it through the seam.
#pragma once

#include <cstdint>

namespace wendrix {

using ClockFn = uint32_t (*)();

uint32_t timeGetTime();
// The platform's own millisecond count (one file per platform).
uint32_t SystemMilliseconds();
void SetClockForTesting(ClockFn clock);  // nullptr restores the real clock

}  // namespace wendrix
