// A stream accepted by the Bluetooth listener runs the same session as one
// over TCP and marks the Bluetooth link, never the Wi-Fi one.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <thread>

#include "FakeDriver.h"
#include "joystick/ControlState.h"
#include "link/MessageThread.h"
#include "protocol/Protocol.h"

namespace wendrix {
namespace {

using namespace std::chrono_literals;

bool Eventually(const std::function<bool()>& condition) {
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(2ms);
  }
  return true;
}

// The phone's end of a connected pair; the other end goes to the session.
class Phone {
 public:
  Phone() {
    int pair[2] = {-1, -1};
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
    fd_ = pair[0];
    session_ = pair[1];
  }
  ~Phone() { ::close(fd_); }

  SocketHandle SessionEnd() const { return session_; }

  void Send(std::span<const uint8_t> bytes) const {
    ASSERT_EQ(::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
  }

  // Up to `count` bytes, or fewer when the session closes its end.
  std::string Read(size_t count) const {
    std::string out;
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (out.size() < count && std::chrono::steady_clock::now() < deadline) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 100) <= 0) continue;
      char buffer[64];
      const ssize_t n = ::recv(fd_, buffer, std::min(sizeof buffer, count - out.size()), 0);
      if (n <= 0) break;
      out.append(buffer, static_cast<size_t>(n));
    }
    return out;
  }

  // Ends the phone's sending; true once the session has closed its end.
  bool HangUp() const {
    ::shutdown(fd_, SHUT_WR);
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (std::chrono::steady_clock::now() < deadline) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 100) <= 0) continue;
      char byte;
      if (::recv(fd_, &byte, 1, 0) == 0) return true;
    }
    return false;
  }

 private:
  int fd_ = -1;
  SocketHandle session_ = -1;
};

// The last report pushed to the driver, once one with this steering came.
// A decoder writes the axes one after the other and pushes after both, so
// only the pushed copy shows a message whole.
std::optional<JoystickReport> PushedWithX(int32_t x) {
  std::optional<JoystickReport> pushed;
  Eventually([&] {
    const auto updates = test::FakeDriver::Get().Updates();
    if (!updates.empty() && updates.back().axisX == x) pushed = updates.back();
    return pushed.has_value();
  });
  return pushed;
}

const std::string kGreetingBytes("\x00\x02", 2);

// Radio addresses of two phones.
constexpr uint64_t kAnnsPhone = 0x0011223344AAu;
constexpr uint64_t kBobsPhone = 0x0011223344BBu;

// One test: the process state is reset once, before any session thread,
// and nothing resets it while session threads may still be ending.
TEST(BluetoothSession, FramedAndLegacyStreams) {
  test::ResetProcessState();
  {
    Phone phone;
    OnBluetoothClientAccepted(phone.SessionEnd(), kAnnsPhone);
    EXPECT_EQ(phone.Read(2), kGreetingBytes);
    EXPECT_EQ(gStatus.bluetoothPeer.load(), 0u) << "named before its stream delivered data";

    phone.Send(BuildFrame(BuildFramedMessage({.steering = 100, .pedals = -200, .sequence = 1})));
    const auto pushed = PushedWithX(16484);
    ASSERT_TRUE(pushed) << "no report with the frame's steering";
    EXPECT_EQ(pushed->axisY, 16184);
    EXPECT_EQ(ReportLoad(gState.report.axisY), 16184);
    EXPECT_TRUE(gState.bluetoothDataSeen.load());
    EXPECT_FALSE(gState.wifiDataSeen.load());
    EXPECT_TRUE(Eventually([] { return gStatus.bluetoothPeer.load() == kAnnsPhone; }));
    EXPECT_TRUE(phone.HangUp());
  }
  gState.bluetoothDataSeen.store(false);
  {
    // Another device that connects and leaves without data names nobody.
    Phone stranger;
    OnBluetoothClientAccepted(stranger.SessionEnd(), kBobsPhone);
    EXPECT_EQ(stranger.Read(2), kGreetingBytes);
    stranger.Send(BuildLegacyOpening());
    EXPECT_TRUE(stranger.HangUp());
    EXPECT_EQ(gStatus.bluetoothPeer.load(), kAnnsPhone);
  }
  {
    Phone phone;
    OnBluetoothClientAccepted(phone.SessionEnd(), kBobsPhone);
    EXPECT_EQ(phone.Read(2), kGreetingBytes);

    phone.Send(BuildLegacyOpening());
    const LegacyRecord records[] = {{.sequence = 1, .steering = 1234, .pedals = 4321}};
    phone.Send(BuildLegacyRecords(records));
    const auto pushed = PushedWithX(1234);
    ASSERT_TRUE(pushed) << "no report with the record's steering";
    EXPECT_EQ(pushed->axisY, 4321);
    EXPECT_EQ(ReportLoad(gState.report.axisY), 4321);
    // A legacy chunk marks the link after decoding it.
    EXPECT_TRUE(Eventually([] { return gState.bluetoothDataSeen.load(); }));
    EXPECT_FALSE(gState.wifiDataSeen.load());
    EXPECT_TRUE(Eventually([] { return gStatus.bluetoothPeer.load() == kBobsPhone; }));
    EXPECT_TRUE(phone.HangUp());
  }
}

}  // namespace
}  // namespace wendrix
