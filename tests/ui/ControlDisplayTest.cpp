#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <limits>

#include "FakeDriver.h"
#include "joystick/ControlState.h"
#include "ui/ControlDisplay.h"

namespace wendrix {
namespace {

TEST(ControlDisplay, SteeringRoundsHalvesToEven) {
  const std::array<std::pair<int32_t, int64_t>, 9> cases = {{
      {0, 0},
      {16384, 50},
      {32768, 100},
      {4096, 12},
      {12288, 38},
      {20480, 62},
      {28672, 88},
      {164, 1},  // 0.50048...: just above the half
      {163, 0},  // 0.4974...
  }};
  for (auto [x, position] : cases) EXPECT_EQ(SteeringPosition(x), position) << x;
}

TEST(ControlDisplay, PedalsShowHowFarTheyArePressed) {
  EXPECT_EQ(PedalsPosition(32768), 0);
  EXPECT_EQ(PedalsPosition(0), 100);
  EXPECT_EQ(PedalsPosition(16384), 50);
  EXPECT_EQ(PedalsPosition(28672), 12);
  EXPECT_EQ(PedalsPosition(20480), 38);
}

TEST(ControlDisplay, OutOfRangeAxesShowAtTheBarEnds) {
  EXPECT_EQ(ShownOnBar(SteeringPosition(40000)), 100);
  EXPECT_EQ(ShownOnBar(SteeringPosition(-5)), 0);
  EXPECT_EQ(ShownOnBar(PedalsPosition(65535)), 0);
  EXPECT_EQ(ShownOnBar(PedalsPosition(-1)), 100);
  // Extremes, including the 32-bit wrap of 32768 - Y.
  constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
  constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
  EXPECT_EQ(ShownOnBar(SteeringPosition(kMax)), 100);
  EXPECT_EQ(ShownOnBar(SteeringPosition(kMin)), 0);
  EXPECT_EQ(PedalsPosition(kMin), SteeringPosition(kMin + 32768));
  EXPECT_EQ(ShownOnBar(PedalsPosition(kMax)), 0);
}

TEST(ControlDisplay, FeedbackForceScale) {
  EXPECT_EQ(FeedbackForcePosition(-10000), 0);
  EXPECT_EQ(FeedbackForcePosition(0), 50);
  EXPECT_EQ(FeedbackForcePosition(10000), 100);
  EXPECT_EQ(ShownOnBar(FeedbackForcePosition(std::numeric_limits<int32_t>::max())), 0)
      << "the sum wraps in 32 bits";
}

class RecordingView : public ControlDisplayView {
 public:
  int steering = -1, pedals = -1, feedback = -1;
  std::array<int, 8> checked{-1, -1, -1, -1, -1, -1, -1, -1};
  void SetSteeringBar(int p) override { steering = p; }
  void SetPedalsBar(int p) override { pedals = p; }
  void SetFeedbackForceBar(int p) override { feedback = p; }
  void SetButtonBoxChecked(int index, bool c) override { checked.at(static_cast<size_t>(index)) = c; }
};

TEST(ControlDisplay, RefreshWritesBarsAndTheDisplayButtons) {
  test::ResetProcessState();
  ReportStore(gState.report.axisX, 4096);
  ReportStore(gState.report.axisY, 28672);
  ReportStore(gState.report.buttons, 0xFFu);  // the boxes follow displayButtons, not this
  const std::array<std::pair<uint8_t, std::array<int, 8>>, 4> cases = {{
      {0x05, {1, 0, 1, 0, 0, 0, 0, 0}},
      {0x80, {0, 0, 0, 0, 0, 0, 0, 1}},
      {0xFF, {1, 1, 1, 1, 1, 1, 1, 1}},
      {0x00, {0, 0, 0, 0, 0, 0, 0, 0}},
  }};
  for (const auto& [mask, boxes] : cases) {
    gState.displayButtons.store(mask);
    RecordingView view;
    RefreshControls(view);
    EXPECT_EQ(view.steering, 12);
    EXPECT_EQ(view.pedals, 12);
    EXPECT_EQ(view.feedback, 0);
    EXPECT_EQ(view.checked, boxes) << int{mask};
  }
}

TEST(ControlDisplay, IdleValuesShowEmptyBars) {
  test::ResetProcessState();
  ReportStore(gState.report.axisY, 32768);
  RecordingView view;
  RefreshControls(view);
  EXPECT_EQ(view.steering, 0);
  EXPECT_EQ(view.pedals, 0);
  EXPECT_EQ(view.feedback, 0);
  EXPECT_EQ(view.checked, (std::array<int, 8>{}));
}

}  // namespace
}  // namespace wendrix
