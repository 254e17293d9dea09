#include "status/BluetoothNames.h"

namespace wendrix {

// The pages show the phone's radio address instead.
std::string BluetoothDeviceName(uint64_t, const std::string&) { return {}; }

}  // namespace wendrix
