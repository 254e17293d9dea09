#include "FuzzDriverStub.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "decode/Clock.h"
#include "decode/LegacyDecoder.h"
#include "joystick/Repaint.h"
#include "joystick/ControlState.h"
#include "joystick/VJoyInterface.h"

namespace wendrix::fuzz {

namespace {
uint32_t gNow = 0;
JoystickReport gLastPush{};
uint64_t gPushes = 0;

uint32_t FuzzClock() { return gNow; }

VJoyBool StubEnabled() { return 1; }
int32_t StubStatus(uint32_t) { return VJD_STAT_FREE; }
VJoyBool StubAcquire(uint32_t) { return 1; }
VJoyBool StubUpdate(uint32_t device, void* report) {
  Check(device == kJoystickDevice, "pushed to another device");
  std::memcpy(&gLastPush, report, sizeof gLastPush);
  ++gPushes;
  return 1;
}
void StubRelinquish(uint32_t) {}
}  // namespace

void ResetForInput(uint32_t clockStart) {
  VJoyEntries = {&StubEnabled, &StubStatus, &StubAcquire, &StubUpdate, &StubRelinquish};
  SetClockForTesting(&FuzzClock);
  gNow = clockStart;
  gPushes = 0;
  gLastPush = JoystickReport{};
  InitializeLegacyDecoder();
  InitializeMainState();
  ReportStore(gState.report.axisX, 0);
  ReportStore(gState.report.axisY, 32768);
  ReportStore(gState.report.buttons, 0u);
  gState.displayButtons.store(0);
  gState.driverFailed.store(false);
  TakeRepaintRequest();
}

void AdvanceClock(uint32_t ms) { gNow += ms; }

const JoystickReport& LastPush() { return gLastPush; }
uint64_t PushCount() { return gPushes; }

void Check(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "invariant failed: %s\n", what);
  std::abort();
}

}  // namespace wendrix::fuzz
