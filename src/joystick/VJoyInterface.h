// Run-time binding of the virtual joystick driver library, loaded from the
// executable's own directory.
#pragma once

#include "joystick/VJoyApi.h"

namespace wendrix {

// Stand-ins for entry points that are not bound: each fails its call, so
// a library without one of them behaves as a driver refusing that call.
namespace unbound {
VJoyBool vJoyEnabled();
int32_t GetVJDStatus(uint32_t device);
VJoyBool AcquireVJD(uint32_t device);
VJoyBool UpdateVJD(uint32_t device, void* report);
void RelinquishVJD(uint32_t device);
}  // namespace unbound

struct VJoyEntryPoints {
  VJoyEnabledFn vJoyEnabled = &unbound::vJoyEnabled;
  GetVJDStatusFn GetVJDStatus = &unbound::GetVJDStatus;
  AcquireVJDFn AcquireVJD = &unbound::AcquireVJD;
  UpdateVJDFn UpdateVJD = &unbound::UpdateVJD;
  RelinquishVJDFn RelinquishVJD = &unbound::RelinquishVJD;
};

extern void* vJoyLibrary;
extern VJoyEntryPoints VJoyEntries;

void InitializeVJoyInterface();  // module initialisation: vJoyLibrary := none
bool LoadVJoyInterface();
bool UnloadVJoyInterface();

}  // namespace wendrix
