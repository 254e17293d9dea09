#include "joystick/Joystick.h"

#include "joystick/ControlState.h"
#include "joystick/StatusRecord.h"
#include "joystick/VJoyInterface.h"

namespace wendrix {

bool DriverEnabled() { return VJoyTrue(VJoyEntries.vJoyEnabled()); }

static JoystickState OpenedState(int32_t status, bool acquired) {
  if (acquired) return JoystickState::kReady;
  if (status == VJD_STAT_BUSY) return JoystickState::kBusy;
  if (status == VJD_STAT_MISS) return JoystickState::kMissing;
  return JoystickState::kFailed;
}

static void OpenDevice() {
  VJoyEntries.vJoyEnabled();
  const int32_t status = VJoyEntries.GetVJDStatus(kJoystickDevice);
  const bool acquired = VJoyTrue(VJoyEntries.AcquireVJD(kJoystickDevice));
  gStatus.joystick.store(OpenedState(status, acquired), kRelaxed);
}

void AcquireJoystick() {
  OpenDevice();
  ReportStore(gState.report.buttons, 0u);
  ReportStore(gState.report.axisY, 32768);
}

void ReacquireJoystick() {
  VJoyEntries.RelinquishVJD(kJoystickDevice);
  OpenDevice();
  gState.driverFailed.store(false, kRelaxed);
}

void PushJoystickReport() {
  if (gState.driverFailed.load(kRelaxed)) return;
  JoystickReport copy = SnapshotReport();
  if (!VJoyTrue(VJoyEntries.UpdateVJD(kJoystickDevice, &copy))) {
    gState.driverFailed.store(true, kRelaxed);
    gStatus.joystick.store(JoystickState::kFailed, kRelaxed);
  }
}

}  // namespace wendrix
