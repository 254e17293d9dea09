// The name a paired phone goes by, as the system's Bluetooth service knows
// it, for the status pages; one implementation per platform.
#pragma once

#include <cstdint>
#include <string>

namespace wendrix {

// The alias of the device with this 48-bit radio address, or empty when the
// system cannot tell. Asks the Bluetooth service at most once per address
// in a row (the last answer is kept), and waits for it a quarter of a second
// at most. `root` is put before the system files read (tests give a tree).
std::string BluetoothDeviceName(uint64_t radio, const std::string& root = {});

}  // namespace wendrix
