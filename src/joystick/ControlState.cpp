#include "joystick/ControlState.h"

namespace wendrix {

ControlState gState;

void InitializeMainState() {
  gState.feedbackForce.store(-10000, kRelaxed);
  gState.statusChanged.store(false, kRelaxed);
  gState.wifiActive.store(false, kRelaxed);
  gState.bluetoothActive.store(false, kRelaxed);
  gState.sequenceCheck.store(false, kRelaxed);
  gState.lastSequence.store(0, kRelaxed);
}

}  // namespace wendrix
