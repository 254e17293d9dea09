// The page server's Linux-only tests: its thread asleep at rest, counted
// through /proc, and the set-up check inside network namespaces of the
// test's own (veth links; the link port held by other sockets).
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "LinkTestSupport.h"
#include "PrivateNetwork.h"
#include "StatusServerFixture.h"
#include "joystick/StatusRecord.h"
#include "link/MessageThread.h"
#include "link/TcpServer.h"
#include "link/UdpClient.h"
#include "link/UdpServer.h"
#include "link/winsock2.h"
#include "status/StatusServer.h"

namespace wendrix {
namespace {

using namespace test;

std::set<std::string> ThreadIds() {
  std::set<std::string> ids;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task"))
    ids.insert(entry.path().filename().string());
  return ids;
}

// Times a thread gave up the processor to wait: each wake-up is one.
long Waits(const std::string& thread) {
  std::ifstream status("/proc/self/task/" + thread + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.starts_with("voluntary_ctxt_switches:")) return std::stol(line.substr(24));
  return -1;
}

// With no client and nothing to look at for an hour, the server's thread
// sleeps; a new feed and a stop still reach it at once (it would otherwise
// sleep for the hour).
TEST_F(StatusServerTest, AServerAtRestSleepsUntilAFeedOrAStopWakesIt) {
  {
    SteppedLive live;
    StatusServer server({32, 3000ms, 1h, 20000ms, 1h}, &live);
    const std::set<std::string> before = ThreadIds();
    ASSERT_TRUE(server.Start(0));
    std::vector<std::string> started;
    for (const std::string& id : ThreadIds())
      if (!before.contains(id)) started.push_back(id);
    ASSERT_EQ(started.size(), 1u) << "the server's thread, and no other, started";
    const std::string thread = started.front();
    EXPECT_EQ(Status(Get(server, kWaiting)), 200);

    const long rested = Waits(thread);
    ASSERT_GE(rested, 0) << "the thread's wait count cannot be read";
    std::this_thread::sleep_for(1s);
    const long after = Waits(thread);
    ASSERT_GE(after, rested);
    EXPECT_LE(after - rested, 1) << "the server woke while nothing happened";

    std::atomic<int> fed{0};
    server.FeedLive(LivePart::kWaiting, [&](uint64_t, const std::string&) { fed.fetch_add(1); });
    EXPECT_TRUE(Eventually([&] { return fed.load() == 1; }));
    server.Stop();
  }
  ExpectAllReturned();
}

// Announces and serves inside a namespace with veth links.
const char kVethSetup[] =
    "ip link add wxa type veth peer name wxb; "
    "ip addr add 198.18.0.1/24 dev wxa; ip addr add 198.19.0.1/16 dev wxa; "
    "ip link set wxa up; ip link set wxb up";

class StatusInNamespace : public StatusServerTest {
 protected:
  SystemNetworkCalls calls_;
};

TEST_F(StatusInNamespace, WaitingPageListsEachAnnouncedAddressWithItsBroadcast) {
  std::string before, after;
  IN_PRIVATE_NETWORK(kVethSetup, [&] {
    StatusServer server;
    if (!server.Start(0)) return;
    before = Get(server, kWaiting);
    TUdpClient client;
    client.AnnounceOnAllInterfaces();
    after = Get(server, "/zodevur_app/en/live.php?part=waiting");
    server.Stop();
  });
  EXPECT_EQ(Status(after), 200);
  EXPECT_FALSE(Contains(before, "198.18.0.1 &rarr;"));
  EXPECT_TRUE(Contains(after, "198.18.0.1 &rarr; 198.18.0.255 <span class=\"ok\">sent")) << after;
  EXPECT_TRUE(Contains(after, "198.19.0.1 &rarr; 198.19.255.255")) << after;
  EXPECT_FALSE(Contains(after, "127.0.0.1 &rarr;"));
  ExpectAllReturned();
}

TEST_F(StatusInNamespace, WaitingPageSaysWhenAnotherProgramHoldsTheLinkPort) {
  std::string held, freed;
  IN_PRIVATE_NETWORK("true", [&] {
    // Another program's sockets on TCP and UDP 41503.
    const int tcpHolder = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int udpHolder = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_port = htons(41503);
    EXPECT_EQ(bind(tcpHolder, reinterpret_cast<sockaddr*>(&any), sizeof any), 0);
    EXPECT_EQ(listen(tcpHolder, 1), 0);
    EXPECT_EQ(bind(udpHolder, reinterpret_cast<sockaddr*>(&any), sizeof any), 0);

    StatusServer server;
    if (!server.Start(0)) return;
    TTcpServer tcp(&OnWifiClientAccepted);
    TUdpServer udp;
    tcp.Start();
    udp.Start();
    Eventually([] {
      return gStatus.tcpListener.load() == ListenerState::kPortBusy &&
             gStatus.udpListener.load() == ListenerState::kPortBusy;
    });
    held = Get(server, "/zodevur_app/en/live.php?part=waiting");
    close(tcpHolder);
    close(udpHolder);
    Eventually([&] { return tcp.ListeningPort() == 41503 && udp.ReceivingPort() == 41503; });
    freed = Get(server, "/zodevur_app/en/live.php?part=waiting");
    tcp.Stop();
    udp.Stop();
    server.Stop();
  });
  EXPECT_TRUE(Contains(held, "<th>TCP 41503</th><td><span class=\"bad\">another program holds port 41503"))
      << held;
  EXPECT_TRUE(Contains(held, "<th>UDP 41503</th><td><span class=\"bad\">another program holds port 41503"));
  EXPECT_TRUE(Contains(held, "Another program holds port 41503, so phones cannot reach Wendrix."));
  EXPECT_TRUE(Contains(freed, "<th>TCP 41503</th><td><span class=\"ok\">listening")) << freed;
  EXPECT_TRUE(Contains(freed, "<th>UDP 41503</th><td><span class=\"ok\">listening"));
  EXPECT_FALSE(Contains(freed, "Another program holds port 41503"));
}

}  // namespace
}  // namespace wendrix
