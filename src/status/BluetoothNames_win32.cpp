#include "status/BluetoothNames.h"

namespace wendrix {

// The pages show the phone's radio address instead.
std::string BluetoothDeviceName(uint64_t, const std::string&, std::chrono::milliseconds) { return {}; }

}  // namespace wendrix
