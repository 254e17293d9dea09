// The five driver calls on uinput (placeholder until the device lands).
#include "joystick/VJoyApi.h"

#define VJOY_EXPORT extern "C" __attribute__((visibility("default")))

VJOY_EXPORT wendrix::VJoyBool vJoyEnabled(void) { return 0; }
VJOY_EXPORT int32_t GetVJDStatus(uint32_t) { return wendrix::VJD_STAT_MISS; }
VJOY_EXPORT wendrix::VJoyBool AcquireVJD(uint32_t) { return 0; }
VJOY_EXPORT wendrix::VJoyBool UpdateVJD(uint32_t, void*) { return 0; }
VJOY_EXPORT void RelinquishVJD(uint32_t) {}
