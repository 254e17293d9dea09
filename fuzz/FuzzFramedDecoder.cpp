// Framed control messages of any length, with the sequence check switched
// on and off and the filter reset as accepted connections do. Each call is
// checked against what the message says.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "FuzzDriverStub.h"
#include "decode/FramedDecoder.h"
#include "joystick/ControlState.h"
#include "protocol/Protocol.h"

using namespace wendrix;
using wendrix::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  fuzz::ResetForInput(0);
  gState.lastSequence.store(static_cast<int16_t>(ReadBigEndian16(data)));
  size_t pos = 2;
  // Per message: flags (bit 0 sequence check, bit 1 identifier in front of
  // the bytes, bit 2 filter reset), length (BE 16), then the bytes.
  while (size - pos >= 3) {
    const uint8_t flags = data[pos];
    const size_t wanted = ReadBigEndian16(data + pos + 1);
    pos += 3;
    const size_t take = wanted < size - pos ? wanted : size - pos;
    // An exact-size copy, so that reading past the message is caught.
    std::vector<uint8_t> message;
    if (flags & 2) message.assign(kAppIdentifier.begin(), kAppIdentifier.end());
    message.insert(message.end(), data + pos, data + pos + take);
    pos += take;

    gState.sequenceCheck.store(flags & 1);
    if (flags & 4) gState.lastSequence.store(0);
    const auto last = static_cast<uint16_t>(gState.lastSequence.load());
    const JoystickReport before = SnapshotReport();
    const uint8_t displayBefore = gState.displayButtons.load();
    const uint64_t pushes = fuzz::PushCount();

    const size_t n = message.size();
    const uint8_t* m = message.data();
    DecodeFramedMessage(m, static_cast<int32_t>(n));

    const bool filtered = (flags & 1) && n >= kFramedSequenceLength;
    const bool taken = n >= kFramedAxesLength && IsAppIdentifier(m) &&
                       (!filtered || IsNewerSequence(ReadBigEndian16(m + kFramedSequenceOffset), last));
    const JoystickReport after = SnapshotReport();
    Check(fuzz::PushCount() == pushes + (taken ? 1 : 0), "push count");
    const uint16_t expectedLast = taken && filtered ? ReadBigEndian16(m + kFramedSequenceOffset) : last;
    Check(static_cast<uint16_t>(gState.lastSequence.load()) == expectedLast, "filter memory");
    if (!taken) {
      Check(after.axisX == before.axisX && after.axisY == before.axisY && after.buttons == before.buttons &&
                gState.displayButtons.load() == displayBefore,
            "dropped message changed the report");
      continue;
    }
    Check(after.axisX == static_cast<int32_t>(ReadBigEndian32(m + kFramedSteeringOffset) + 16384u), "axis X");
    Check(after.axisY == static_cast<int32_t>(ReadBigEndian32(m + kFramedPedalsOffset) + 16384u), "axis Y");
    if (n >= kFramedButtonsLength) {
      Check(after.buttons == m[kFramedButton1Offset] + 2u * m[kFramedButton2Offset], "button sum");
      Check(gState.displayButtons.load() == m[kFramedButton1Offset], "display byte");
    } else {
      Check(after.buttons == before.buttons && gState.displayButtons.load() == displayBefore, "buttons kept");
    }
    Check(fuzz::LastPush().axisX == after.axisX && fuzz::LastPush().buttons == after.buttons,
          "pushed report");
  }
  return 0;
}
