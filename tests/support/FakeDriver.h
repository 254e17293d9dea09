// In-process access to the fake driver library that the binding loaded
// from the test program's directory.
#pragma once

#include <cstring>
#include <vector>

#include "../fakevjoy/FakeVJoy.h"
#include "joystick/JoystickReport.h"

namespace wendrix::test {

class FakeDriver {
 public:
  // Binds the fake (LoadVJoyInterface) and resolves its control calls.
  static FakeDriver& Get();

  void Reset() const { reset_(); }
  void SetEnabled(int32_t result) const { setEnabled_(result); }
  void SetAcquire(int32_t result) const { setAcquire_(result); }
  void ScriptUpdates(std::vector<int32_t> results) const { script_(results.data(), results.size()); }
  void SetRecording(bool on) const { setRecording_(on ? 1 : 0); }
  void SetUpdateHook(FakeVJoyUpdateHook hook, void* context) const { setHook_(hook, context); }

  std::vector<FakeVJoyCall> Calls() const;
  std::vector<int32_t> Kinds() const;
  std::vector<JoystickReport> Updates() const;

 private:
  FakeDriver();
  decltype(&FakeVJoy_Reset) reset_;
  decltype(&FakeVJoy_SetEnabled) setEnabled_;
  decltype(&FakeVJoy_SetAcquire) setAcquire_;
  decltype(&FakeVJoy_ScriptUpdates) script_;
  decltype(&FakeVJoy_SetRecording) setRecording_;
  decltype(&FakeVJoy_CallCount) count_;
  decltype(&FakeVJoy_GetCall) get_;
  decltype(&FakeVJoy_SetUpdateHook) setHook_;
};

// Puts the process into the state module initialisation leaves it in,
// binds the fake library and forgets its record.
void ResetProcessState();

}  // namespace wendrix::test
