// The five calls of the virtual joystick driver library (libvJoyInterface.so).
// The program binds them at run time by name; the library implements them
// with C linkage. A Boolean result counts as true when its low 8 bits are
// not all zero.
#pragma once

#include <cstdint>

namespace wendrix {

using VJoyBool = int32_t;

// Answers of GetVJDStatus.
enum VJoyDeviceStatus : int32_t {
  VJD_STAT_OWN = 0,   // acquired by this process
  VJD_STAT_FREE = 1,  // exists and can be acquired
  VJD_STAT_BUSY = 2,  // acquired by another process
  VJD_STAT_MISS = 3,  // missing or not usable
  VJD_STAT_UNKN = 4,
};

constexpr uint32_t kJoystickDevice = 1;

using VJoyEnabledFn = VJoyBool (*)();
using GetVJDStatusFn = int32_t (*)(uint32_t device);
using AcquireVJDFn = VJoyBool (*)(uint32_t device);
using UpdateVJDFn = VJoyBool (*)(uint32_t device, void* report);
using RelinquishVJDFn = void (*)(uint32_t device);

inline bool VJoyTrue(VJoyBool result) { return (static_cast<uint32_t>(result) & 0xFFu) != 0; }

}  // namespace wendrix

// Declarations for the library's own implementation.
extern "C" {
wendrix::VJoyBool vJoyEnabled(void);
int32_t GetVJDStatus(uint32_t device);
wendrix::VJoyBool AcquireVJD(uint32_t device);
wendrix::VJoyBool UpdateVJD(uint32_t device, void* report);
void RelinquishVJD(uint32_t device);
}
