// Wi-Fi to the wheel: datagrams and streams on loopback port 41503, read
// back as a game reads the wheel.
#include <sys/socket.h>
#include <unistd.h>

#include "LinkTestSupport.h"
#include "Receiver.h"
#include "joystick/ControlState.h"
#include "protocol/Protocol.h"

namespace wendrix::test {
namespace {

using vjoy::WheelState;

class WifiToWheel : public ReceiverTest {
 protected:
  void SetUp() override {
    ReceiverTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    ASSERT_TRUE(WifiListening()) << "the services do not listen on port " << kLinkPort;
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
};

TEST_F(WifiToWheel, ControlDatagramsMoveTheAxesAndNothingElse) {
  const int udp = OpenUdpClient();
  ASSERT_GE(udp, 0);
  gState.wifiDataSeen = false;

  // Every test leaves the buttons released; a datagram's button byte is unused.
  const WheelState before = Shown();
  const uint16_t first = NextSequence();
  ASSERT_TRUE(SendDatagramTo(udp, kLinkPort, BuildControlDatagram({first, 1000, 2000, 0xFF})));
  ExpectWheelMoves(before, {1000, 2000, 0});
  EXPECT_TRUE(Eventually([] { return gState.wifiDataSeen.load(); }));

  // A repeated number, another type and another length change nothing: the
  // next frame on the wheel is that of the datagram after them.
  ASSERT_TRUE(SendDatagramTo(udp, kLinkPort, BuildControlDatagram({first, 9, 9, 0})));
  ASSERT_TRUE(SendDatagramTo(udp, kLinkPort, BuildControlDatagram({NextSequence(), 9, 9, 0}, 0x02)));
  const auto datagram = BuildControlDatagram({NextSequence(), 9, 9, 0});
  ASSERT_TRUE(SendDatagramTo(udp, kLinkPort, Concat(datagram, std::vector<uint8_t>{0})));
  ASSERT_TRUE(SendDatagramTo(udp, kLinkPort, BuildControlDatagram({NextSequence(), 32768, 0, 0})));
  ExpectWheelMoves({1000, 2000, 0}, {32768, 0, 0});
  close(udp);
}

TEST_F(WifiToWheel, FramedMessagesSetAxesAndButtons) {
  const int fd = Connect();
  ASSERT_GE(fd, 0);
  const WheelState before = Shown();

  // Axes relative to the centre 16384; buttons 1 and 2 from their own bytes.
  ASSERT_TRUE(SendAll(fd, BuildFrame(BuildFramedMessage({5000, -6000, 1, 1, 0}))));
  ExpectWheelMoves(before, {21384, 10384, 0b01});

  // A frame that arrives in pieces.
  const std::vector<uint8_t> frame = BuildFrame(BuildFramedMessage({-16384, 16384, 2, 0, 1}));
  for (size_t at = 0; at < frame.size(); at += 5) {
    ASSERT_TRUE(SendAll(fd, std::span(frame).subspan(at, std::min<size_t>(5, frame.size() - at))));
    usleep(2000);
  }
  ExpectWheelMoves({21384, 10384, 0b01}, {0, 32768, 0b10});

  ASSERT_TRUE(SendAll(fd, BuildFrame(BuildFramedMessage({0, 0, 3, 0, 0}))));
  ExpectWheelMoves({0, 32768, 0b10}, {16384, 16384, 0});
  close(fd);
}

// A tap shorter than a record's interval still reaches the game: the press
// and the release come in separate frames, the release once the 50 ms
// pulse has run on the records that follow.
TEST_F(WifiToWheel, LegacyStreamTapReachesTheGameAsPressThenRelease) {
  const int fd = Connect();
  ASSERT_GE(fd, 0);
  const WheelState before = Shown();

  const LegacyRecord press{NextSequence(), 7000, 8000, 0b100};
  const LegacyRecord release{NextSequence(), 7000, 8000, 0};
  const std::vector<uint8_t> records = BuildLegacyRecords(std::vector{press, release});
  ASSERT_TRUE(SendAll(fd, Concat(BuildLegacyOpening(), records)));
  ExpectWheelMoves(before, {7000, 8000, 0b100});

  // Records keep coming, as from a phone; the release shows within them.
  // However slow the guest, the pulse ends on the records that follow.
  std::optional<vjoy::Frame> next;
  for (const auto end = vjoy::WheelClock::now() + vjoy::kWheelDeadline;
       !next && vjoy::WheelClock::now() < end;) {
    ASSERT_TRUE(SendAll(fd, BuildLegacyRecord({NextSequence(), 7000, 8000, 0})));
    next = Wheel().NextFrame(std::chrono::milliseconds(20));
  }
  ASSERT_TRUE(next) << "the button was never released";
  EXPECT_EQ(*next, (vjoy::Frame{vjoy::Key(3, 0), vjoy::Syn}));

  shutdown(fd, SHUT_WR);
  EXPECT_TRUE(PeerClosed(fd)) << "the session closes a legacy stream that ends";
  close(fd);
}

}  // namespace
}  // namespace wendrix::test
