// Control interface of the fake driver library (libvJoyInterface.so built
// under tests/). It records every call and answers as scripted.
//
// Other processes: FAKE_VJOY_LOG names a file that receives one line per
// call ("vJoyEnabled", "GetVJDStatus 1", "AcquireVJD 1",
// "UpdateVJD 1 <192 hex digits of the report>", "RelinquishVJD 1");
// FAKE_VJOY_ENABLED is the value vJoyEnabled returns (default 1);
// FAKE_VJOY_ACQUIRE is the value AcquireVJD(1) returns (default 1; other
// devices always fail);
// FAKE_VJOY_UPDATE is a comma-separated list of UpdateVJD results, used in
// order, the last one repeating (default 1);
// FAKE_VJOY_COUNT names a file whose one line is the number of UpdateVJD
// calls so far that changed the report, rounded down to a multiple of 32.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

enum FakeVJoyCallKind : int32_t {
  FAKE_VJOY_ENABLED = 0,
  FAKE_VJOY_STATUS = 1,
  FAKE_VJOY_ACQUIRE = 2,
  FAKE_VJOY_UPDATE = 3,
  FAKE_VJOY_RELINQUISH = 4,
};

struct FakeVJoyCall {
  int32_t kind;
  uint32_t device;
  uint8_t report[96];  // UpdateVJD only
  int32_t result;      // what the call returned; 0 for RelinquishVJD
};

using FakeVJoyUpdateHook = void (*)(const void* report, void* context);

// Forgets the record and the script and answers as configured by the
// environment again.
void FakeVJoy_Reset(void);
void FakeVJoy_SetEnabled(int32_t result);
void FakeVJoy_SetAcquire(int32_t result);
// Results of the next UpdateVJD calls, in order; the last one repeats.
void FakeVJoy_ScriptUpdates(const int32_t* results, size_t count);
void FakeVJoy_SetRecording(int32_t on);
size_t FakeVJoy_CallCount(void);
// Copies call `index`; returns 0 when there is no such call.
int32_t FakeVJoy_GetCall(size_t index, FakeVJoyCall* out);
// Called on every UpdateVJD, on the caller's thread, before it returns.
void FakeVJoy_SetUpdateHook(FakeVJoyUpdateHook hook, void* context);
}
