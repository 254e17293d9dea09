// Common ground of the decoder tests: zero process state, the fake driver,
// a clock the test sets, and a repaint hook that counts every request.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <span>

#include "FakeDriver.h"
#include "decode/Clock.h"
#include "decode/FramedDecoder.h"
#include "decode/LegacyDecoder.h"
#include "joystick/ControlState.h"
#include "joystick/Repaint.h"
#include "protocol/Protocol.h"

namespace wendrix::test {

inline std::atomic<uint32_t> gNow{0};
inline std::atomic<int> gClockReads{0};
inline std::atomic<int> gRepaints{0};

inline uint32_t TestClock() {
  gClockReads.fetch_add(1);
  return gNow.load();
}

// Takes every request at once, so each RequestRepaint reaches the hook.
inline void CountRepaint(void*) {
  gRepaints.fetch_add(1);
  TakeRepaintRequest();
}

class DecoderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetProcessState();
    gNow = 0;
    SetClockForTesting(&TestClock);
    InstallRepaintHook(&CountRepaint, nullptr);
    TakeRepaintRequest();
    gClockReads = 0;
    gRepaints = 0;
  }
  void TearDown() override {
    FakeDriver::Get().SetUpdateHook(nullptr, nullptr);
    InstallRepaintHook(nullptr, nullptr);
    SetClockForTesting(nullptr);
  }

 public:
  static void Legacy(std::span<const uint8_t> bytes, bool withButtons = true) {
    DecodeLegacyRecords(bytes.data(), bytes.data() + bytes.size(), withButtons);
  }
  // One stream record at the given time.
  static void Stream(uint32_t at, LegacyRecord record) {
    gNow = at;
    Legacy(BuildLegacyRecord(record));
  }
  static void Udp(uint32_t at, LegacyRecord record) {
    gNow = at;
    Legacy(BuildLegacyRecord(record), false);
  }
  static void Framed(std::span<const uint8_t> message) {
    DecodeFramedMessage(message.data(), static_cast<int32_t>(message.size()));
  }

  static int32_t AxisX() { return ReportLoad(gState.report.axisX); }
  static int32_t AxisY() { return ReportLoad(gState.report.axisY); }
  static uint32_t Buttons() { return ReportLoad(gState.report.buttons); }
  static uint8_t Display() { return gState.displayButtons.load(); }
  static size_t Pushes() { return FakeDriver::Get().Updates().size(); }
};

}  // namespace wendrix::test
