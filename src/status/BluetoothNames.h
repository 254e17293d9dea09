// The name a paired phone goes by, as the system's Bluetooth service knows
// it, for the status pages; one implementation per platform.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace wendrix {

// The alias of the device with this 48-bit radio address, or empty when the
// system cannot tell. Waits for the Bluetooth service a quarter of a second
// at most. A name found is kept while the address stays the same; an empty
// answer only for `retry`, so that a name the service learns later, or
// could not give in time on a cold bus, is still found. `root` is put
// before the system files read (tests give a tree).
std::string BluetoothDeviceName(uint64_t radio, const std::string& root = {},
                                std::chrono::milliseconds retry = std::chrono::seconds(5));

}  // namespace wendrix
