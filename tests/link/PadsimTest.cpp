// The phone simulator against the program's listeners.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <string>

#include "FakeDriver.h"
#include "LinkTestSupport.h"
#include "link/MessageThread.h"
#include "link/TcpServer.h"
#include "link/UdpServer.h"
#include "protocol/Protocol.h"

namespace wendrix::test {
namespace {

struct Outcome {
  int status;
  std::string output;  // stdout and stderr
};

Outcome Padsim(const std::string& arguments) {
  const std::string command = std::string(PADSIM_PATH) + " " + arguments + " 2>&1";
  Outcome run{-1, {}};
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return run;
  char buffer[512];
  while (size_t n = fread(buffer, 1, sizeof buffer, pipe)) run.output.append(buffer, n);
  const int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

class PadsimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetProcessState();
    tcp_ = std::make_unique<TTcpServer>(&OnWifiClientAccepted, 0);
    udp_ = std::make_unique<TUdpServer>(0);
    tcp_->Start();
    udp_->Start();
    ASSERT_TRUE(Eventually([&] { return tcp_->ListeningPort() && udp_->ReceivingPort(); }));
  }
  static std::vector<JoystickReport> Updates() { return FakeDriver::Get().Updates(); }

  std::unique_ptr<TTcpServer> tcp_;
  std::unique_ptr<TUdpServer> udp_;
};

TEST_F(PadsimTest, DrivesTheJoystickInEveryMode) {
  const std::string tcpPort = " --port " + std::to_string(tcp_->ListeningPort());
  Outcome framed = Padsim("tcp 127.0.0.1 --framed --rate 500 --count 20" + tcpPort);
  EXPECT_EQ(framed.status, 0) << framed.output;
  EXPECT_NE(framed.output.find("greeting from 127.0.0.1"), std::string::npos) << framed.output;
  EXPECT_NE(framed.output.find(": 00 02\n"), std::string::npos) << framed.output;
  ASSERT_TRUE(Eventually([] { return Updates().size() >= 20; }));

  Outcome legacy = Padsim("tcp localhost --legacy --rate 500 --sequence 100 100,200,1 300,400" + tcpPort);
  EXPECT_EQ(legacy.status, 0) << legacy.output;
  ASSERT_TRUE(Eventually([] { return !Updates().empty() && Updates().back().axisX == 300; }));
  EXPECT_EQ(Updates().back().axisY, 400);

  Outcome udp = Padsim("udp 127.0.0.1 --rate 500 --sequence 200 1000,2000 --port " +
                       std::to_string(udp_->ReceivingPort()));
  EXPECT_EQ(udp.status, 0) << udp.output;
  ASSERT_TRUE(Eventually([] { return Updates().back().axisX == 1000; }));
  EXPECT_EQ(Updates().back().axisY, 2000);
}

TEST_F(PadsimTest, ListenPrintsAnnouncementsWithTheirSender) {
  // A port known to be free: the receiver's, once it has stopped.
  const uint16_t port = udp_->ReceivingPort();
  udp_.reset();
  int probe = OpenUdpClient();
  std::string output;
  std::atomic<bool> done{false};
  std::thread listener([&] {
    output = Padsim("listen --count 1 --seconds 60 --port " + std::to_string(port)).output;
    done = true;
  });
  EXPECT_TRUE(Eventually(
      [&] {
        SendDatagramTo(probe, port, kAnnouncement);
        std::this_thread::sleep_for(20ms);
        return done.load();
      },
      90s));
  listener.join();
  close(probe);
  EXPECT_NE(output.find("announcement from 127.0.0.1:"), std::string::npos) << output;
  EXPECT_NE(output.find("port 41503"), std::string::npos) << output;
}

TEST(Padsim, ReportsBadArgumentsAndRefusedConnections) {
  for (const char* bad : {"", "fly 127.0.0.1", "tcp 127.0.0.1", "tcp 127.0.0.1 --framed --legacy", "udp",
                          "udp 127.0.0.1 --rate 0", "udp 127.0.0.1 70000,1", "udp 127.0.0.1 --port x"}) {
    Outcome r = Padsim(bad);
    EXPECT_EQ(r.status, 2) << bad << "\n" << r.output;
    EXPECT_NE(r.output.find("usage:"), std::string::npos) << bad;
  }
  // Nothing listens on this port in the test's network namespace.
  int s = ConnectLoopback(1);
  ASSERT_LT(s, 0);
  Outcome refused = Padsim("tcp 127.0.0.1 --legacy --port 1");
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.output.find("cannot connect to 127.0.0.1:1: Connection refused"), std::string::npos)
      << refused.output;
}

}  // namespace
}  // namespace wendrix::test
