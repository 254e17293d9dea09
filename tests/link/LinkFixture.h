// Listeners on ephemeral loopback ports, with the program's accept
// callbacks for both links, against the fake driver library. Every test
// ends with all sessions gone and their sockets closed.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "FakeDriver.h"
#include "LinkTestSupport.h"
#include "joystick/ControlState.h"
#include "link/MessageThread.h"
#include "link/TcpServer.h"
#include "protocol/Protocol.h"

namespace wendrix::test {

class LinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetProcessState();
    baselineDescriptors_ = OpenDescriptorCount();
    wifi_ = std::make_unique<TTcpServer>(&OnWifiClientAccepted, 0);
    bluetooth_ = std::make_unique<TTcpServer>([](SocketHandle s) { OnBluetoothClientAccepted(s, 0); }, 0);
    wifi_->Start();
    bluetooth_->Start();
    ASSERT_TRUE(Eventually([&] { return wifi_->ListeningPort() && bluetooth_->ListeningPort(); }));
  }

  void TearDown() override {
    for (int fd : clients_) CloseClient(fd);
    wifi_.reset();
    bluetooth_.reset();
    EXPECT_TRUE(Eventually([&] { return OpenDescriptorCount() == baselineDescriptors_; }))
        << "a session or framed reader left its socket open";
  }

  // A connected client whose greeting has not been read.
  int Connect(LinkKind link = LinkKind::Wifi) {
    const auto& server = link == LinkKind::Wifi ? wifi_ : bluetooth_;
    int fd = ConnectLoopback(server->ListeningPort());
    EXPECT_GE(fd, 0);
    clients_.push_back(fd);
    return fd;
  }

  // A connected client past the greeting.
  int Open(LinkKind link = LinkKind::Wifi) {
    int fd = Connect(link);
    const std::vector<uint8_t> greeting{0x00, 0x02};
    EXPECT_EQ(ReadBytes(fd, 2), greeting);
    return fd;
  }

  void Close(int fd) {
    Forget(fd);
    CloseClient(fd);
  }
  void Reset(int fd) {
    Forget(fd);
    CloseWithReset(fd);
  }
  void Forget(int fd) { clients_.erase(std::remove(clients_.begin(), clients_.end(), fd), clients_.end()); }

  static std::vector<JoystickReport> Updates() { return FakeDriver::Get().Updates(); }
  static bool UpdateCountReaches(size_t n) {
    return Eventually([n] { return Updates().size() >= n; });
  }
  // Waits for a pushed report with this X axis.
  static bool UpdateWithX(int32_t x) {
    return Eventually([x] {
      auto u = Updates();
      return std::any_of(u.begin(), u.end(), [x](const JoystickReport& r) { return r.axisX == x; });
    });
  }

  std::unique_ptr<TTcpServer> wifi_;
  std::unique_ptr<TTcpServer> bluetooth_;
  std::vector<int> clients_;
  size_t baselineDescriptors_ = 0;
};

}  // namespace wendrix::test
