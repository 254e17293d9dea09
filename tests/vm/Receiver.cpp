#include "Receiver.h"

#include "app/Services.h"
#include "app/Startup.h"

// The services live until the process ends, as in the program.
// NOLINTNEXTLINE(bugprone-reserved-identifier): the sanitizer runtime looks for this name
extern "C" const char* __lsan_default_suppressions() { return "leak:StartServices\n"; }

namespace wendrix::test {

namespace {

vjoy::EventNode gWheel;
std::string gNotRunning = "the receiver was not started";
bool gWheelOfAnotherProcess = false;

// The window's place in the start-up: it starts the services, as the main
// window's creation does, and then runs the tests instead of the message
// loop.
class TestShell final : public Shell {
 public:
  int result = 1;

  void ShowMissingDriverMessage(const std::string&) override {
    gNotRunning = "the program would show the missing-driver message: the driver library is not enabled";
    result = RUN_ALL_TESTS();
  }

  void RunMainWindow() override {
    if (!vjoy::WheelEventNode().empty()) {
      gWheelOfAnotherProcess = true;
      gNotRunning = "another process's Wendrix Virtual Wheel is registered";
    } else {
      StartServices();
      if (gWheel.Open())
        gNotRunning.clear();
      else
        gNotRunning = "no event node for the wheel after the service start";
    }
    result = RUN_ALL_TESTS();
  }
};

}  // namespace

void ReceiverTest::SetUp() {
  if (gNotRunning.empty()) {
    gWheel.Drain();
    return;
  }
  if (vjoy::UinputWritable() && !gWheelOfAnotherProcess)
    FAIL() << "/dev/uinput is writable, yet " << gNotRunning;
  GTEST_SKIP() << gNotRunning << "; the VM stage (tests/vm) runs these tests on a kernel with uinput";
}

vjoy::WheelState ReceiverTest::Shown() {
  const std::optional<vjoy::WheelState> shown = gWheel.Shown();
  EXPECT_TRUE(shown) << "cannot read the wheel's state";
  return shown.value_or(vjoy::WheelState{});
}

void ReceiverTest::ExpectWheelMoves(const vjoy::WheelState& before, const vjoy::WheelState& after) {
  const vjoy::WheelEvents events = vjoy::TranslateReport(before, after);
  ASSERT_FALSE(events.empty()) << "the test expects a change";
  const vjoy::Frame expected(events.begin(), events.end());
  const std::optional<vjoy::Frame> got = gWheel.NextFrame();
  ASSERT_TRUE(got) << "the wheel did not move";
  EXPECT_EQ(*got, expected);
}

vjoy::EventNode& ReceiverTest::Wheel() { return gWheel; }

uint16_t NextSequence() {
  static uint16_t last = 1000;
  return ++last;
}

}  // namespace wendrix::test

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  wendrix::test::TestShell shell;
  wendrix::RunProcess(shell);
  return shell.result;
}
