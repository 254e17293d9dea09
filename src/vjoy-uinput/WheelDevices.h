// Finding virtual wheels that other processes have registered.
#pragma once

#include <string>

namespace wendrix::vjoy {

// True when an input device under `classDir` (normally /sys/class/input)
// carries the wheel's name, bus and ids.
bool WheelRegistered(const std::string& classDir);

}  // namespace wendrix::vjoy
