#include "ReportTranslation.h"
#include "WheelEventPrinter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "joystick/JoystickReport.h"

namespace wendrix::vjoy {
namespace {

using Events = std::vector<WheelEvent>;

Events Translate(const WheelState& shown, const WheelState& wanted) {
  const WheelEvents out = TranslateReport(shown, wanted);
  return Events(out.begin(), out.end());
}

constexpr WheelEvent Syn{EV_SYN, SYN_REPORT, 0};

WheelState State(int32_t x, int32_t y, uint8_t buttons) {
  WheelState s;
  s.x = x;
  s.y = y;
  s.buttons = buttons;
  return s;
}

TEST(ReportTranslation, NothingChangedEmitsNothingNotEvenASyn) {
  EXPECT_TRUE(TranslateReport(WheelState{}, WheelState{}).empty());
  EXPECT_TRUE(TranslateReport(State(3, 4, 0xA5), State(3, 4, 0xA5)).empty());
}

TEST(ReportTranslation, EmitsOnlyChangedAxesThenOneSyn) {
  const WheelState shown = State(16384, 32768, 0);
  EXPECT_EQ(Translate(shown, State(0, 32768, 0)), (Events{{EV_ABS, ABS_X, 0}, Syn}));
  EXPECT_EQ(Translate(shown, State(16384, 100, 0)), (Events{{EV_ABS, ABS_Y, 100}, Syn}));
  EXPECT_EQ(Translate(shown, State(32768, 0, 0)), (Events{{EV_ABS, ABS_X, 32768}, {EV_ABS, ABS_Y, 0}, Syn}));
}

TEST(ReportTranslation, ButtonsMapInOrderToTriggerThroughBase2) {
  const uint16_t codes[] = {BTN_TRIGGER, BTN_THUMB,  BTN_THUMB2, BTN_TOP,
                            BTN_TOP2,    BTN_PINKIE, BTN_BASE,   BTN_BASE2};
  for (int bit = 0; bit < kButtonCount; ++bit) {
    const auto mask = static_cast<uint8_t>(1u << bit);
    EXPECT_EQ(Translate(State(0, 0, 0), State(0, 0, mask)), (Events{{EV_KEY, codes[bit], 1}, Syn})) << bit;
    EXPECT_EQ(Translate(State(0, 0, 0xFF), State(0, 0, static_cast<uint8_t>(~mask))),
              (Events{{EV_KEY, codes[bit], 0}, Syn}))
        << bit;
  }
}

TEST(ReportTranslation, EverythingAtOnceKeepsAxesFirstThenButtonOrder) {
  const Events all = Translate(State(1, 2, 0x0F), State(3, 4, 0xF0));
  ASSERT_EQ(all.size(), 11u);
  EXPECT_EQ(all[0], (WheelEvent{EV_ABS, ABS_X, 3}));
  EXPECT_EQ(all[1], (WheelEvent{EV_ABS, ABS_Y, 4}));
  for (int i = 0; i < kButtonCount; ++i) {
    EXPECT_EQ(all[2 + i], (WheelEvent{EV_KEY, static_cast<uint16_t>(BTN_TRIGGER + i), i >= 4 ? 1 : 0}));
  }
  EXPECT_EQ(all[10], Syn);
}

class ReadingReports : public ::testing::Test {
 protected:
  uint8_t bytes[kReportSize] = {};

  void Put(size_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
  }
};

TEST_F(ReadingReports, TakesLittleEndianFieldsAtTheirOffsets) {
  Put(kAxisXOffset, 0x1234);
  Put(kAxisYOffset, 0x7FFF);
  Put(kButtonsOffset, 0x81);
  EXPECT_EQ(ReadReport(bytes), State(0x1234, 0x7FFF, 0x81));
}

TEST_F(ReadingReports, IgnoresEveryOtherByteAndButtonsAboveEight) {
  std::memset(bytes, 0xEE, sizeof bytes);
  Put(kAxisXOffset, 100);
  Put(kAxisYOffset, 200);
  Put(kButtonsOffset, 0xFFFFFF00u);
  EXPECT_EQ(ReadReport(bytes), State(100, 200, 0));
}

TEST_F(ReadingReports, ClampsAxesToTheWheelRange) {
  Put(kAxisXOffset, static_cast<uint32_t>(-1));
  Put(kAxisYOffset, 40000);
  EXPECT_EQ(ReadReport(bytes), State(0, 32768, 0));
  Put(kAxisXOffset, 0x80000000u);
  Put(kAxisYOffset, 0x7FFFFFFFu);
  EXPECT_EQ(ReadReport(bytes), State(0, 32768, 0));
  Put(kAxisXOffset, 32768);
  Put(kAxisYOffset, 0);
  EXPECT_EQ(ReadReport(bytes), State(32768, 0, 0));
}

TEST_F(ReadingReports, AcceptsAnUnalignedReport) {
  alignas(4) uint8_t shifted[kReportSize + 1] = {};
  Put(kAxisXOffset, 777);
  std::memcpy(shifted + 1, bytes, sizeof bytes);
  EXPECT_EQ(ReadReport(shifted + 1).x, 777);
}

TEST(ReportTranslation, TheProgramsIdleReportMovesOnlySteeringFromTheInitialState) {
  JoystickReport idle{};
  idle.axisY = 32768;
  EXPECT_EQ(Translate(WheelState{}, ReadReport(&idle)), (Events{{EV_ABS, ABS_X, 0}, Syn}));
}

}  // namespace
}  // namespace wendrix::vjoy
