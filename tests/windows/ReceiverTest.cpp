// The receiver on Windows as the program starts it (modules, the driver
// library from the program's own folder, the driver check, the service
// start), only without its window, driven over loopback port 41503. The
// fake vJoyInterface.dll beside it records what reaches the driver.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "FakeDriver.h"
#include "LinkTestSupport.h"
#include "app/Services.h"
#include "app/Startup.h"
#include "joystick/ControlState.h"
#include "link/TcpServer.h"
#include "link/UdpServer.h"
#include "protocol/Protocol.h"

namespace wendrix::test {
namespace {

std::string gNotRunning = "the receiver was not started";

// The window's place in the start-up: it starts the services, as the main
// window's creation does, and then runs the tests instead of the message loop.
class TestShell final : public Shell {
 public:
  int result = 1;
  void ShowMissingDriverMessage(const std::string& text) override {
    gNotRunning = "start-up refused: " + text;
    result = RUN_ALL_TESTS();
  }
  void RunMainWindow() override {
    StartServices();
    gNotRunning.clear();
    result = RUN_ALL_TESTS();
  }
};

uint16_t NextSequence() {
  static uint16_t last = 1000;
  return ++last;
}

class Receiver : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(gNotRunning.empty()) << gNotRunning;
    ASSERT_TRUE(Eventually([] {
      TTcpServer* tcp = gState.tcpServer.load();
      TUdpServer* udp = gState.udpServer.load();
      return tcp && udp && tcp->ListeningPort() == kLinkPort && udp->ReceivingPort() == kLinkPort;
    })) << "the services do not listen on port "
        << kLinkPort;
    // Nothing is in flight between tests: each one waits for what it sent.
    FakeDriver::Get().Reset();
  }

  // A stream that has been greeted.
  int Connect() {
    const int fd = ConnectLoopback(kLinkPort);
    EXPECT_GE(fd, 0);
    if (fd >= 0) {
      EXPECT_EQ(ReadBytes(fd, 2), (std::vector<uint8_t>{0x00, 0x02})) << "the greeting";
    }
    return fd;
  }

  static std::vector<JoystickReport> Updates() { return FakeDriver::Get().Updates(); }

  // The first update after `seen` ones that satisfies `match`.
  template <typename Match>
  static std::optional<JoystickReport> AwaitUpdate(size_t seen, Match match) {
    std::optional<JoystickReport> found;
    Eventually([&] {
      const auto u = Updates();
      for (size_t i = seen; i < u.size(); ++i)
        if (match(u[i])) {
          found = u[i];
          return true;
        }
      return false;
    });
    return found;
  }
};

bool SameBytes(const JoystickReport& a, const JoystickReport& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

TEST_F(Receiver, ControlDatagramsReachTheDriverWithExactlyTheAxes) {
  const int udp = OpenUdpClient();
  ASSERT_GE(udp, 0);
  gState.wifiDataSeen = false;
  JoystickReport expected = gState.report;  // as the last message left it
  expected.axisX = 1000;
  expected.axisY = 2000;

  const uint16_t first = NextSequence();
  ASSERT_TRUE(SendDatagramTo(udp, kLinkPort, BuildControlDatagram({first, 1000, 2000, 0xFF})));
  ASSERT_TRUE(Eventually([] { return !Updates().empty(); }));
  const auto updates = Updates();
  ASSERT_EQ(updates.size(), 1u);
  EXPECT_TRUE(SameBytes(updates[0], expected))
      << "axes " << updates[0].axisX << ", " << updates[0].axisY << ", buttons " << updates[0].buttons;
  const auto calls = FakeDriver::Get().Calls();
  EXPECT_EQ(calls.back().device, 1u);
  EXPECT_TRUE(Eventually([] { return gState.wifiDataSeen.load(); }));

  // Another type and another length are dropped; the next datagram is taken.
  ASSERT_TRUE(SendDatagramTo(udp, kLinkPort, BuildControlDatagram({NextSequence(), 9, 9, 0}, 0x02)));
  const auto datagram = BuildControlDatagram({NextSequence(), 9, 9, 0});
  ASSERT_TRUE(SendDatagramTo(udp, kLinkPort, Concat(datagram, std::vector<uint8_t>{0})));
  ASSERT_TRUE(SendDatagramTo(udp, kLinkPort, BuildControlDatagram({NextSequence(), 32768, 0, 0})));
  ASSERT_TRUE(AwaitUpdate(1, [](const JoystickReport& r) { return r.axisX == 32768; }));
  const auto all = Updates();
  ASSERT_EQ(all.size(), 2u) << "a dropped datagram reached the driver";
  EXPECT_EQ(all[1].axisY, 0);
  CloseClient(udp);
}

TEST_F(Receiver, FramedMessagesSetAxesAndButtons) {
  const int fd = Connect();
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(SendAll(fd, BuildFrame(BuildFramedMessage({5000, -6000, 1, 1, 0}))));
  auto r = AwaitUpdate(0, [](const JoystickReport& u) { return u.axisX == 21384; });
  ASSERT_TRUE(r);
  EXPECT_EQ(r->axisY, 10384);
  EXPECT_EQ(r->buttons, 0b01u);

  // A frame that arrives in pieces.
  const std::vector<uint8_t> frame = BuildFrame(BuildFramedMessage({-16384, 16384, 2, 0, 1}));
  for (size_t at = 0; at < frame.size(); at += 5) {
    ASSERT_TRUE(SendAll(fd, std::span(frame).subspan(at, std::min<size_t>(5, frame.size() - at))));
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  r = AwaitUpdate(1, [](const JoystickReport& u) { return u.axisX == 0; });
  ASSERT_TRUE(r);
  EXPECT_EQ(r->axisY, 32768);
  EXPECT_EQ(r->buttons, 0b10u);
  EXPECT_EQ(Updates().size(), 2u);
  CloseClient(fd);
}

TEST_F(Receiver, LegacyStreamsMoveTheAxesAndEndClosed) {
  const int fd = Connect();
  ASSERT_GE(fd, 0);
  const std::vector<LegacyRecord> records = {{NextSequence(), 3000, 4000, 0},
                                             {NextSequence(), 5000, 6000, 0}};
  // The opening and the records split in the middle of a record.
  const std::vector<uint8_t> bytes = Concat(BuildLegacyOpening(), BuildLegacyRecords(records));
  ASSERT_TRUE(SendAll(fd, std::span(bytes).first(bytes.size() - 3)));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_TRUE(SendAll(fd, std::span(bytes).last(3)));
  const auto r = AwaitUpdate(0, [](const JoystickReport& u) { return u.axisX == 5000; });
  ASSERT_TRUE(r);
  EXPECT_EQ(r->axisY, 6000);
  EndWrites(fd);
  EXPECT_TRUE(PeerClosed(fd)) << "the session closes a legacy stream that ends";
  CloseClient(fd);
}

// A tap shorter than a record's interval reaches the driver as a press and
// a later release, once the 50 ms pulse has run on the records that follow.
TEST_F(Receiver, ALegacyTapReachesTheDriverAsPressThenRelease) {
  const int fd = Connect();
  ASSERT_GE(fd, 0);
  const LegacyRecord press{NextSequence(), 7000, 8000, 0b100};
  const LegacyRecord release{NextSequence(), 7000, 8000, 0};
  ASSERT_TRUE(SendAll(fd, Concat(BuildLegacyOpening(), BuildLegacyRecords(std::vector{press, release}))));
  const auto pressed = AwaitUpdate(0, [](const JoystickReport& u) { return (u.buttons & 0b100) != 0; });
  ASSERT_TRUE(pressed) << "the press never reached the driver";
  EXPECT_EQ(pressed->axisX, 7000);

  // Records keep coming, as from a phone; the release shows within them.
  bool released = false;
  for (int i = 0; i < 3000 && !released; ++i) {
    ASSERT_TRUE(SendAll(fd, BuildLegacyRecord({NextSequence(), 7000, 8000, 0})));
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const auto u = Updates();
    const auto at =
        std::find_if(u.begin(), u.end(), [](const JoystickReport& r) { return (r.buttons & 0b100) != 0; });
    released = std::any_of(at, u.end(), [](const JoystickReport& r) { return (r.buttons & 0b100) == 0; });
  }
  EXPECT_TRUE(released) << "the button was never released";
  CloseClient(fd);
}

}  // namespace
}  // namespace wendrix::test

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  wendrix::test::TestShell shell;
  wendrix::RunProcess(shell);
  return shell.result;
}
