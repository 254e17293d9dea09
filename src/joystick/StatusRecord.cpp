#include "joystick/StatusRecord.h"

#include <chrono>

namespace wendrix {

StatusRecord gStatus;

int64_t WallClockMilliseconds() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

}  // namespace wendrix
