#include "decode/FramedDecoder.h"

#include <mutex>

#include "decode/LegacyDecoder.h"
#include "joystick/ControlState.h"
#include "joystick/Joystick.h"
#include "joystick/Repaint.h"
#include "protocol/Protocol.h"

namespace wendrix {

void DecodeFramedMessage(const uint8_t* data, int32_t length) {
  if (length < static_cast<int32_t>(kFramedAxesLength)) return;
  if (!IsAppIdentifier(data)) return;

  // The legacy decoder's lock: the sequence test, the report writes and the
  // push of one message never interleave with another decoder call.
  std::lock_guard lock(legacyLock);

  if (gState.sequenceCheck.load(kRelaxed) && length >= static_cast<int32_t>(kFramedSequenceLength)) {
    const uint16_t s = ReadBigEndian16(data + kFramedSequenceOffset);
    const auto last = static_cast<uint16_t>(gState.lastSequence.load(kRelaxed));
    if (!IsNewerSequence(s, last)) return;
    gState.lastSequence.store(static_cast<int16_t>(s), kRelaxed);
  }

  if (length >= static_cast<int32_t>(kFramedButtonsLength)) {
    const uint8_t button1 = data[kFramedButton1Offset];
    const uint8_t button2 = data[kFramedButton2Offset];
    ReportStore(gState.report.buttons, uint32_t{button1} + 2u * uint32_t{button2});
    gState.displayButtons.store(button1, kRelaxed);
  }

  // Offset from the centre in 32-bit arithmetic with wrap, never clamped.
  const uint32_t centre = kFramedAxisCentre;
  ReportStore(gState.report.axisX,
              static_cast<int32_t>(ReadBigEndian32(data + kFramedSteeringOffset) + centre));
  ReportStore(gState.report.axisY,
              static_cast<int32_t>(ReadBigEndian32(data + kFramedPedalsOffset) + centre));

  RequestRepaint();
  PushJoystickReport();
}

}  // namespace wendrix
