#include <chrono>

#include "decode/Clock.h"

namespace wendrix {

uint32_t SystemMilliseconds() {
  using namespace std::chrono;
  auto ms = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
  return static_cast<uint32_t>(ms);
}

}  // namespace wendrix
