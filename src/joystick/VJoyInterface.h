// Run-time binding of the virtual joystick driver library, loaded from the
// executable's own directory.
#pragma once

#include "joystick/VJoyApi.h"

namespace wendrix {

struct VJoyEntryPoints {
  VJoyEnabledFn vJoyEnabled = nullptr;
  GetVJDStatusFn GetVJDStatus = nullptr;
  AcquireVJDFn AcquireVJD = nullptr;
  UpdateVJDFn UpdateVJD = nullptr;
  RelinquishVJDFn RelinquishVJD = nullptr;
};

extern void* vJoyLibrary;
extern VJoyEntryPoints VJoyEntries;

void InitializeVJoyInterface();  // module initialisation: vJoyLibrary := none
bool LoadVJoyInterface();
bool UnloadVJoyInterface();

}  // namespace wendrix
