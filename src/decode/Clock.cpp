#include "decode/Clock.h"

#include <atomic>
#include <chrono>

namespace wendrix {

static uint32_t MonotonicMilliseconds() {
  using namespace std::chrono;
  auto ms = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
  return static_cast<uint32_t>(ms);
}

static std::atomic<ClockFn> gClock{&MonotonicMilliseconds};

uint32_t timeGetTime() { return gClock.load(std::memory_order_relaxed)(); }

void SetClockForTesting(ClockFn clock) {
  gClock.store(clock ? clock : &MonotonicMilliseconds, std::memory_order_relaxed);
}

}  // namespace wendrix
