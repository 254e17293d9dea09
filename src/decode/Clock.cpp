#include "decode/Clock.h"

#include <atomic>

namespace wendrix {

static std::atomic<ClockFn> gClock{&SystemMilliseconds};

uint32_t timeGetTime() { return gClock.load(std::memory_order_relaxed)(); }

void SetClockForTesting(ClockFn clock) {
  gClock.store(clock ? clock : &SystemMilliseconds, std::memory_order_relaxed);
}

}  // namespace wendrix
