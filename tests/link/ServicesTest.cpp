#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "FakeDriver.h"
#include "LinkTestSupport.h"
#include "app/Services.h"
#include "joystick/ControlState.h"
#include "link/TcpServer.h"
#include "link/UdpClient.h"
#include "link/UdpServer.h"
#include "protocol/Protocol.h"

// The Bluetooth listener is created and dropped on purpose: nothing keeps it.
// NOLINTNEXTLINE(bugprone-reserved-identifier): the sanitizer runtime looks for this name
extern "C" const char* __lsan_default_suppressions() { return "leak:StartServices\n"; }

namespace wendrix::test {
namespace {

std::set<std::string> ThreadNames() {
  std::set<std::string> names;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    std::ifstream comm(task.path() / "comm");
    std::string name;
    if (std::getline(comm, name)) names.insert(name);
  }
  return names;
}

TEST(StartServices, AcquiresTheDeviceAndThenServesPort41503) {
  ResetProcessState();
  gState.connected = true;
  gState.wifiDataSeen = true;
  gState.bluetoothDataSeen = true;
  ReportStore(gState.report.buttons, 5u);

  StartServices();

  EXPECT_FALSE(gState.connected.load());
  EXPECT_FALSE(gState.wifiDataSeen.load());
  EXPECT_FALSE(gState.bluetoothDataSeen.load());
  const JoystickReport r = SnapshotReport();
  EXPECT_EQ(r.axisX, 0);
  EXPECT_EQ(r.axisY, 32768);
  EXPECT_EQ(r.buttons, 0u);
  EXPECT_EQ(FakeDriver::Get().Kinds(),
            (std::vector<int32_t>{FAKE_VJOY_ENABLED, FAKE_VJOY_STATUS, FAKE_VJOY_ACQUIRE}));
  TTcpServer* tcp = gState.tcpServer.load();
  TUdpServer* udp = gState.udpServer.load();
  ASSERT_NE(tcp, nullptr);
  ASSERT_NE(udp, nullptr);
  ASSERT_NE(gState.udpClient.load(), nullptr);

  ASSERT_TRUE(
      Eventually([&] { return tcp->ListeningPort() == kLinkPort && udp->ReceivingPort() == kLinkPort; }));
  int stream = ConnectLoopback(kLinkPort);
  ASSERT_GE(stream, 0);
  EXPECT_EQ(ReadBytes(stream, 2), (std::vector<uint8_t>{0x00, 0x02}));
  ASSERT_TRUE(SendAll(stream, Concat(BuildLegacyOpening(), BuildLegacyRecord({1, 111, 222, 0}))));
  ASSERT_TRUE(Eventually([] { return FakeDriver::Get().Updates().size() == 1; }));
  EXPECT_EQ(FakeDriver::Get().Updates()[0].axisX, 111);

  int datagrams = OpenUdpClient();
  ASSERT_TRUE(SendDatagramTo(datagrams, kLinkPort, BuildControlDatagram({2, 333, 444, 0})));
  ASSERT_TRUE(Eventually([] { return FakeDriver::Get().Updates().size() == 2; }));
  EXPECT_EQ(FakeDriver::Get().Updates()[1].axisX, 333);
  EXPECT_TRUE(Eventually([] { return gState.wifiDataSeen.load(); }));

  // Each thread carries the name that top -H, ps -L and gdb show; the
  // session of the stream above is one of them while it lasts.
  const std::set<std::string> named = ThreadNames();
  for (const char* name : {"udp-receiver", "tcp-listener", "bt-listener", "session"})
    EXPECT_TRUE(named.count(name)) << name;

  close(datagrams);
  shutdown(stream, SHUT_WR);
  EXPECT_TRUE(PeerClosed(stream));
  close(stream);
  // The program never stops its services; the test does, to end cleanly.
  delete gState.tcpServer.exchange(nullptr);
  delete gState.udpServer.exchange(nullptr);
  delete gState.udpClient.exchange(nullptr);
}

}  // namespace
}  // namespace wendrix::test
