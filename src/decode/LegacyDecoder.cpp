#include "decode/LegacyDecoder.h"

#include "decode/Clock.h"
#include "joystick/ControlState.h"
#include "joystick/Joystick.h"
#include "joystick/Repaint.h"
#include "protocol/Protocol.h"

namespace wendrix {

LegacyDecoderState gLegacy;
std::mutex legacyLock;

namespace {

constexpr uint32_t kPulsePeriodMs = 50;

// The clock has reached the deadline, also across the wrap of the 32-bit
// millisecond count.
bool Reached(uint32_t now, uint32_t deadline) { return static_cast<int32_t>(now - deadline) >= 0; }

void SetBit(uint8_t& mask, uint8_t bit, bool on) {
  mask = static_cast<uint8_t>(on ? (mask | bit) : (mask & ~bit));
}

// Sequence test and axes of one record. A record numbered 0 is always
// taken and leaves the last number alone.
void TakeAxes(LegacyDecoderState& st, const uint8_t* record) {
  const uint16_t s = ReadLittleEndian16(record + kLegacySequenceOffset);
  if (s != 0) {
    if (!IsNewerSequence(s, st.lastLegacySequence.load(kRelaxed))) return;
    st.lastLegacySequence.store(s, kRelaxed);
  }
  st.legacySteering = ReadBigEndian16(record + kLegacySteeringOffset);
  st.legacyPedals = ReadBigEndian16(record + kLegacyPedalsOffset);
}

// One step of every running train whose deadline has come. The step that
// ends a train shows the button's latest state.
void StepPulses(LegacyDecoderState& st, uint32_t now) {
  for (unsigned i = 0; i < kButtonCount; ++i) {
    if (st.pulseCount[i] == 0 || !Reached(now, st.pulseDeadline[i])) continue;
    const auto bit = static_cast<uint8_t>(1u << i);
    st.pulseLevel[i] ^= 1;
    --st.pulseCount[i];
    SetBit(st.pulsedButtons, bit,
           st.pulseCount[i] != 0 ? st.pulseLevel[i] != 0 : (st.currentButtons & bit) != 0);
    st.pulseDeadline[i] = now + kPulsePeriodMs;
  }
}

// A change of the button byte starts a train for each idle button that
// changed and queues one more step on each running one.
void ChangeButtons(LegacyDecoderState& st, uint8_t buttons, uint32_t now) {
  st.currentButtons = buttons;
  const uint8_t changed = buttons ^ st.previousButtons;
  for (unsigned i = 0; i < kButtonCount; ++i) {
    const auto bit = static_cast<uint8_t>(1u << i);
    if (!(changed & bit)) continue;
    if (st.pulseCount[i] != 0) {
      // 255 queued steps wrap the count to 0 and end the train at once; it
      // then settles on the latest state as a final step would, rather
      // than leave the button showing a level the phone no longer reports.
      if (++st.pulseCount[i] == 0) SetBit(st.pulsedButtons, bit, (buttons & bit) != 0);
      continue;
    }
    const bool pressed = (buttons & bit) != 0;
    SetBit(st.pulsedButtons, bit, pressed);
    st.pulseDeadline[i] = now + kPulsePeriodMs;
    st.pulseCount[i] = 1;
    st.pulseLevel[i] = pressed ? 1 : 0;
  }
  st.previousButtons = buttons;
}

}  // namespace

void InitializeLegacyDecoder() {
  std::lock_guard lock(legacyLock);
  gLegacy.lastLegacySequence.store(0, kRelaxed);
  gLegacy.legacySteering = 0;
  gLegacy.legacyPedals = 0;
  gLegacy.currentButtons = 0;
  gLegacy.previousButtons = 0;
  gLegacy.pulsedButtons = 0;
  for (unsigned i = 0; i < kButtonCount; ++i) {
    gLegacy.pulseCount[i] = 0;
    gLegacy.pulseLevel[i] = 0;
    gLegacy.pulseDeadline[i] = 0;
  }
}

void DecodeLegacyRecords(const uint8_t* first, const uint8_t* end, bool withButtons) {
  std::lock_guard lock(legacyLock);
  LegacyDecoderState& st = gLegacy;
  const uint32_t now = timeGetTime();
  const size_t count = end > first ? static_cast<size_t>(end - first) / kLegacyRecordSize : 0;

  for (size_t k = 0; k < count; ++k) {
    const uint8_t* record = first + k * kLegacyRecordSize;
    TakeAxes(st, record);
    StepPulses(st, now);
    if (!withButtons) continue;
    const uint8_t buttons = record[kLegacyButtonsOffset];
    if (buttons != st.previousButtons) ChangeButtons(st, buttons, now);
  }

  ReportStore(gState.report.buttons, uint32_t{st.pulsedButtons});
  ReportStore(gState.report.axisX, int32_t{st.legacySteering});
  ReportStore(gState.report.axisY, int32_t{st.legacyPedals});
  gState.displayButtons.store(st.pulsedButtons, kRelaxed);
  PushJoystickReport();
  RequestRepaint();
}

}  // namespace wendrix
