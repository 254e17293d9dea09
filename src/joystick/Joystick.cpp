#include "joystick/Joystick.h"

#include "joystick/ControlState.h"
#include "joystick/VJoyInterface.h"

namespace wendrix {

// A library that loaded without one of its entry points behaves as a
// driver that fails that call, never as a jump to address zero.
bool DriverEnabled() {
  return VJoyEntries.vJoyEnabled && VJoyTrue(VJoyEntries.vJoyEnabled());
}

static void OpenDevice() {
  if (VJoyEntries.vJoyEnabled) VJoyEntries.vJoyEnabled();
  if (VJoyEntries.GetVJDStatus) VJoyEntries.GetVJDStatus(kJoystickDevice);
  if (VJoyEntries.AcquireVJD) VJoyEntries.AcquireVJD(kJoystickDevice);
}

void AcquireJoystick() {
  OpenDevice();
  ReportStore(gState.report.buttons, 0u);
  ReportStore(gState.report.axisY, 32768);
}

void ReacquireJoystick() {
  if (VJoyEntries.RelinquishVJD) VJoyEntries.RelinquishVJD(kJoystickDevice);
  OpenDevice();
  gState.driverFailed.store(false, kRelaxed);
}

void PushJoystickReport() {
  if (gState.driverFailed.load(kRelaxed)) return;
  JoystickReport copy = SnapshotReport();
  const UpdateVJDFn update = VJoyEntries.UpdateVJD;
  if (!update || !VJoyTrue(update(kJoystickDevice, &copy)))
    gState.driverFailed.store(true, kRelaxed);
}

}  // namespace wendrix
