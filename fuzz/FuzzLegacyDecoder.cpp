// Runs of legacy records, with and without buttons, at clock values the
// input chooses (wrap included). Each call is checked against the
// decoder's invariants.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "FuzzDriverStub.h"
#include "decode/LegacyDecoder.h"
#include "joystick/ControlState.h"
#include "protocol/Protocol.h"

using namespace wendrix;
using wendrix::fuzz::Check;

namespace {

void CheckAfterCall(bool hadRecords, bool clockNearDeadlines, uint32_t now) {
  const LegacyDecoderState& st = gLegacy;
  const JoystickReport& pushed = fuzz::LastPush();
  Check(pushed.buttons == st.pulsedButtons, "pushed mask");
  Check(pushed.axisX == st.legacySteering && pushed.axisY == st.legacyPedals, "pushed axes");
  Check(gState.displayButtons.load() == st.pulsedButtons, "display mask");
  Check(st.currentButtons == st.previousButtons, "button byte not settled");
  for (unsigned i = 0; i < kButtonCount; ++i) {
    Check(st.pulseLevel[i] <= 1, "pulse level");
    if (st.pulseCount[i] == 0) continue;
    Check(((st.pulsedButtons >> i) & 1u) == st.pulseLevel[i], "running train shows its level");
    // A call with records steps every train that is due, so none is left due.
    const auto wait = static_cast<int32_t>(st.pulseDeadline[i] - now);
    if (hadRecords && clockNearDeadlines) Check(wait > 0 && wait <= 50, "train left due");
  }
  JoystickReport others = pushed;
  others.axisX = others.axisY = 0;
  others.buttons = 0;
  static const JoystickReport zero{};
  Check(std::memcmp(&others, &zero, sizeof zero) == 0, "a field the decoder never writes");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  uint32_t now = ReadLittleEndian16(data) | uint32_t{ReadLittleEndian16(data + 2)} << 16;
  fuzz::ResetForInput(now);
  size_t pos = 4;
  // Once the clock has run far without records, a due deadline may look
  // like a future one; the timing check holds only before that.
  uint64_t sinceRecords = 0;
  bool clockNearDeadlines = true;
  // Per call: flags (bit 0 withButtons, bit 1 three trailing bytes, bit 2
  // the advance counts in units of 65536 ms), record count, advance (LE 16).
  while (size - pos >= 4) {
    const uint8_t flags = data[pos];
    const size_t wanted = data[pos + 1] * kLegacyRecordSize + ((flags & 2) ? 3 : 0);
    uint32_t advance = ReadLittleEndian16(data + pos + 2);
    if (flags & 4) advance <<= 16;
    pos += 4;
    const size_t take = wanted < size - pos ? wanted : size - pos;
    // An exact-size copy, so that reading past the run is caught.
    std::vector<uint8_t> run(data + pos, data + pos + take);
    pos += take;

    fuzz::AdvanceClock(advance);
    now += advance;
    sinceRecords += advance;
    const uint8_t buttonsBefore = gLegacy.currentButtons;
    uint8_t countsBefore[kButtonCount];
    std::memcpy(countsBefore, gLegacy.pulseCount, sizeof countsBefore);
    const uint64_t pushes = fuzz::PushCount();
    const bool withButtons = flags & 1;

    DecodeLegacyRecords(run.data(), run.data() + run.size(), withButtons);

    const bool hadRecords = run.size() >= kLegacyRecordSize;
    Check(fuzz::PushCount() == pushes + 1, "one push per call");
    if (sinceRecords >= (1u << 30)) clockNearDeadlines = false;
    CheckAfterCall(hadRecords, clockNearDeadlines, now);
    if (hadRecords) sinceRecords = 0;
    if (!withButtons) {
      Check(gLegacy.currentButtons == buttonsBefore, "UDP call changed the button byte");
      for (unsigned i = 0; i < kButtonCount; ++i)
        Check(gLegacy.pulseCount[i] <= countsBefore[i], "UDP call extended a train");
    }
  }
  return 0;
}
