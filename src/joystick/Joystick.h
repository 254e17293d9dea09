// Device 1: acquisition, re-acquisition and the report push.
#pragma once

namespace wendrix {

void AcquireJoystick();     // window thread, once from StartServices
void ReacquireJoystick();   // window thread, from the supervisor while driverFailed
void PushJoystickReport();  // any decoding thread

// vJoyEnabled through the binding; false when the entry point is missing.
bool DriverEnabled();

}  // namespace wendrix
