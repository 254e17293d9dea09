#include "FakeDriver.h"

#include <cstdio>
#include <cstdlib>

#include "app/Modules.h"
#include "decode/LegacyDecoder.h"
#include "joystick/ControlState.h"
#include "joystick/DynamicLibrary.h"
#include "joystick/VJoyInterface.h"

namespace wendrix::test {

template <typename Fn>
static Fn Need(const char* name) {
  auto fn = reinterpret_cast<Fn>(FindSymbol(vJoyLibrary, name));
  if (!fn) {
    std::fprintf(stderr, "fake driver library lacks %s\n", name);
    std::abort();
  }
  return fn;
}

FakeDriver::FakeDriver() {
  if (!LoadVJoyInterface()) {
    std::fprintf(stderr, "the fake driver library is not beside the test program\n");
    std::abort();
  }
  reset_ = Need<decltype(reset_)>("FakeVJoy_Reset");
  setEnabled_ = Need<decltype(setEnabled_)>("FakeVJoy_SetEnabled");
  setAcquire_ = Need<decltype(setAcquire_)>("FakeVJoy_SetAcquire");
  script_ = Need<decltype(script_)>("FakeVJoy_ScriptUpdates");
  setRecording_ = Need<decltype(setRecording_)>("FakeVJoy_SetRecording");
  count_ = Need<decltype(count_)>("FakeVJoy_CallCount");
  get_ = Need<decltype(get_)>("FakeVJoy_GetCall");
  setHook_ = Need<decltype(setHook_)>("FakeVJoy_SetUpdateHook");
}

FakeDriver& FakeDriver::Get() {
  static FakeDriver* driver = new FakeDriver;
  return *driver;
}

std::vector<FakeVJoyCall> FakeDriver::Calls() const {
  std::vector<FakeVJoyCall> calls(count_());
  for (size_t i = 0; i < calls.size(); ++i) get_(i, &calls[i]);
  return calls;
}

std::vector<int32_t> FakeDriver::Kinds() const {
  std::vector<int32_t> kinds;
  for (const auto& c : Calls()) kinds.push_back(c.kind);
  return kinds;
}

std::vector<JoystickReport> FakeDriver::Updates() const {
  std::vector<JoystickReport> reports;
  for (const auto& c : Calls()) {
    if (c.kind != FAKE_VJOY_UPDATE) continue;
    JoystickReport r;
    std::memcpy(&r, c.report, sizeof r);
    reports.push_back(r);
  }
  return reports;
}

void ResetProcessState() {
  // Zero first, as at process start, then the module initialisations.
  gState.wifiActive.store(false);
  gState.report = JoystickReport{};
  gState.wifiDataSeen.store(false);
  gState.bluetoothDataSeen.store(false);
  gState.displayButtons.store(0);
  gState.driverFailed.store(false);
  gState.pageChanged.store(false);
  gState.connected.store(false);
  gLegacy.lastLegacySequence.store(0);
  gLegacy.legacySteering = 0;
  gLegacy.legacyPedals = 0;
  InitializeModules();
  LoadVJoyInterface();
  FakeDriver::Get().Reset();
}

}  // namespace wendrix::test
