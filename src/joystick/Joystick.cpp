#include "joystick/Joystick.h"

#include "joystick/ControlState.h"
#include "joystick/VJoyInterface.h"

namespace wendrix {

bool DriverEnabled() { return VJoyTrue(VJoyEntries.vJoyEnabled()); }

static void OpenDevice() {
  VJoyEntries.vJoyEnabled();
  VJoyEntries.GetVJDStatus(kJoystickDevice);
  VJoyEntries.AcquireVJD(kJoystickDevice);
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
  if (!VJoyTrue(VJoyEntries.UpdateVJD(kJoystickDevice, &copy)))
    gState.driverFailed.store(true, kRelaxed);
}

}  // namespace wendrix
