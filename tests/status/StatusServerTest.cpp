// The page server on real loopback sockets: pages, bad and hostile
// clients, and the live check against the running services.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <utility>
#include <string>
#include <string_view>
#include <vector>

#include "LinkFixture.h"
#include "LinkTestSupport.h"
#include "PrivateNetwork.h"
#include "joystick/StatusRecord.h"
#include "link/UdpClient.h"
#include "link/UdpServer.h"
#include "link/winsock2.h"
#include "status/StatusPages.h"
#include "status/StatusServer.h"
#include "ui/Supervisor.h"

namespace wendrix {
namespace {

using namespace test;

std::string Host(const StatusServer& server) { return "127.0.0.1:" + std::to_string(server.Port()); }

// A request for `target` below the server's secret root.
std::string GetRequest(const StatusServer& server, std::string_view target) {
  return "GET " + server.Root() + std::string(target) + " HTTP/1.1\r\nHost: " + Host(server) + "\r\n\r\n";
}

// Sends `request` and reads the answer up to the server's close.
std::string Exchange(uint16_t port, std::string_view request) {
  const int fd = ConnectLoopback(port);
  if (fd < 0) return "no connection";
  SendAll(fd, {reinterpret_cast<const uint8_t*>(request.data()), request.size()});
  const std::vector<uint8_t> bytes = ReadBytes(fd, 1 << 20);
  close(fd);
  return {bytes.begin(), bytes.end()};
}

std::string Get(const StatusServer& server, std::string_view target) {
  return Exchange(server.Port(), GetRequest(server, target));
}

int Status(const std::string& response) {
  return response.size() >= 12 && response.starts_with("HTTP/1.1 ") ? std::stoi(response.substr(9, 3)) : 0;
}

bool Contains(const std::string& text, std::string_view part) { return text.find(part) != std::string::npos; }

constexpr std::string_view kWaiting = "/zodevur_app/en/waiting.php?v=5.1";

class StatusServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A sanitizer's runtime starts a thread of its own with the first one.
    // A joined thread may still be listed for a moment: it is not counted.
    pid_t helper = 0;
    std::thread([&] { helper = gettid(); }).join();
    const std::string listed = "/proc/self/task/" + std::to_string(helper);
    EXPECT_TRUE(Eventually([&] { return access(listed.c_str(), F_OK) != 0; }));
    descriptors_ = OpenDescriptorCount();
    threads_ = ThreadCount();
  }
  // Every socket and the thread of the server are gone once it stopped.
  void ExpectAllReturned() {
    EXPECT_TRUE(Eventually([&] { return OpenDescriptorCount() == descriptors_; }))
        << OpenDescriptorCount() << " descriptors open, " << descriptors_ << " before";
    EXPECT_TRUE(Eventually([&] { return ThreadCount() == threads_; }));
  }
  size_t descriptors_ = 0;
  size_t threads_ = 0;
};

TEST_F(StatusServerTest, AnswersBadRequestsWithTheirErrorsAndKeepsServing) {
  {
    StatusServer server;
    ASSERT_TRUE(server.Start(0));
    ASSERT_NE(server.Port(), 0);
    EXPECT_EQ(server.BaseAddress(), "http://" + Host(server) + server.Root());
    const std::string page = Get(server, kWaiting);
    EXPECT_EQ(Status(page), 200);
    EXPECT_TRUE(Contains(page, "Content-Type: text/html; charset=utf-8\r\n"));
    EXPECT_TRUE(Contains(page, "Set-up check"));

    const std::string host = "Host: " + Host(server) + "\r\n";
    struct Case {
      std::string request;
      int status;
    };
    const std::vector<Case> cases = {
        {"POST /zodevur_app/en/waiting.php HTTP/1.1\r\n" + host + "\r\n", 405},
        {"OPTIONS * HTTP/1.1\r\n" + host + "\r\n", 400},
        {"GET /etc/passwd HTTP/1.1\r\n" + host + "\r\n", 404},
        // The pages' own addresses without this server's secret.
        {"GET /zodevur_app/en/waiting.php?v=5.1 HTTP/1.1\r\n" + host + "\r\n", 404},
        {"GET /0123456789abcdef0123456789abcdef/zodevur_app/en/links/help.php?v=5.1 HTTP/1.1\r\n" + host +
             "\r\n",
         404},
        {"GET /zodevur_app/en/waiting.php HTTP/1.1\r\nHost: attacker.example:" +
             std::to_string(server.Port()) + "\r\n\r\n",
         403},
        {"GET /" + std::string(5000, 'a') + " HTTP/1.1\r\n" + host + "\r\n", 414},
        {"GET / HTTP/1.1\r\n" + host + "X: " + std::string(5000, 'b') + "\r\n\r\n", 431},
        {std::string("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03\r\n\r\n", 14), 400},
    };
    for (const Case& c : cases) {
      EXPECT_EQ(Status(Exchange(server.Port(), c.request)), c.status) << c.request.substr(0, 60);
      EXPECT_EQ(Status(Get(server, kWaiting)), 200) << "after " << c.request.substr(0, 60);
    }
    // Another server's secret is not this one's.
    StatusServer other;
    EXPECT_NE(other.Root(), server.Root());
    EXPECT_EQ(other.Root().size(), 33u);
    EXPECT_EQ(Status(Exchange(server.Port(), "GET " + other.Root() + std::string(kWaiting) + " HTTP/1.1\r\n" +
                                                 host + "\r\n")),
              404);
    // A client that goes away without a word, or in the middle of its request.
    close(ConnectLoopback(server.Port()));
    CloseWithReset(ConnectLoopback(server.Port()));
    EXPECT_EQ(Status(Get(server, kWaiting)), 200);
    server.Stop();
  }
  ExpectAllReturned();
}

TEST_F(StatusServerTest, SlowAndSilentClientsAreDroppedWithoutKeepingOthersOut) {
  rlimit files{};
  getrlimit(RLIMIT_NOFILE, &files);
  if (files.rlim_cur < 2000 && files.rlim_max >= 2000) {
    files.rlim_cur = 2000;
    setrlimit(RLIMIT_NOFILE, &files);
  }
  ASSERT_GE(files.rlim_cur, 2000u) << "too few descriptors allowed";
  {
    StatusServer server({8, std::chrono::milliseconds(300)});
    ASSERT_TRUE(server.Start(0));

    // One byte every 100 ms: dropped long before its request could be whole.
    const std::string request = GetRequest(server, kWaiting);
    const int slow = ConnectLoopback(server.Port());
    size_t sent = 0;
    std::string answer;
    while (sent < request.size()) {
      if (send(slow, request.data() + sent, 1, MSG_NOSIGNAL) != 1) break;
      ++sent;
      std::this_thread::sleep_for(100ms);
      uint8_t byte;
      if (recv(slow, &byte, 1, MSG_DONTWAIT) == 0) break;
    }
    EXPECT_LT(sent, request.size()) << "the slow client got to finish its request";
    EXPECT_TRUE(PeerClosed(slow));
    close(slow);
    EXPECT_GE(server.DroppedConnections(), 1u);

    // A thousand connections that send nothing, all open at once.
    std::vector<int> silent;
    for (int i = 0; i < 1000; ++i) {
      const int fd = ConnectLoopback(server.Port());
      if (fd >= 0) silent.push_back(fd);
    }
    EXPECT_EQ(silent.size(), 1000u);
    EXPECT_EQ(Status(Get(server, kWaiting)), 200) << "silent connections kept a request out";
    EXPECT_GE(server.DroppedConnections(), 900u);
    for (int fd : silent) close(fd);
    EXPECT_EQ(Status(Get(server, kWaiting)), 200);
    server.Stop();
  }
  ExpectAllReturned();
}

// A live part that changes when the test says so.
class SteppedLive final : public LiveSource {
 public:
  std::string Render(LivePart) override {
    renders.fetch_add(1);
    return "<p>step " + std::to_string(step.load()) + "</p>";
  }
  std::atomic<int> step{0};
  std::atomic<int> renders{0};
};

std::string HeaderValue(const std::string& response, std::string_view name) {
  const size_t at = response.find("\r\n" + std::string(name) + ": ");
  if (at == std::string::npos) return {};
  const size_t from = at + name.size() + 4;
  return response.substr(from, response.find("\r\n", from) - from);
}

std::string Body(const std::string& response) {
  const size_t at = response.find("\r\n\r\n");
  return at == std::string::npos ? std::string() : response.substr(at + 4);
}

TEST_F(StatusServerTest, ALiveRequestNamingWhatThePageShowsWaitsForAChange) {
  {
    SteppedLive live;
    StatusServer server({32, 3000ms, 10ms, 60000ms}, &live);
    ASSERT_TRUE(server.Start(0));
    constexpr std::string_view kLive = "/zodevur_app/en/live.php?part=connected";

    const std::string first = Get(server, kLive);
    EXPECT_EQ(Body(first), "<p>step 0</p>");
    const std::string tag = HeaderValue(first, "X-Live-Tag");
    ASSERT_EQ(tag.size(), 16u);
    // A tag that is not the current one is answered at once.
    EXPECT_EQ(Body(Get(server, std::string(kLive) + "&since=0123456789abcdef")), "<p>step 0</p>");

    // The current tag: held while the server looks again and again.
    const int held = ConnectLoopback(server.Port());
    const std::string request = GetRequest(server, std::string(kLive) + "&since=" + tag + "&t=1");
    SendAll(held, {reinterpret_cast<const uint8_t*>(request.data()), request.size()});
    const int before = live.renders.load();
    ASSERT_TRUE(Eventually([&] { return live.renders.load() >= before + 3; }));
    uint8_t byte;
    EXPECT_EQ(recv(held, &byte, 1, MSG_DONTWAIT), -1) << "answered without a change";
    // Other requests are served meanwhile.
    EXPECT_EQ(Status(Get(server, kWaiting)), 200);

    // A client that gives up while held is let go.
    const int leaving = ConnectLoopback(server.Port());
    SendAll(leaving, {reinterpret_cast<const uint8_t*>(request.data()), request.size()});
    const int seen = live.renders.load();
    ASSERT_TRUE(Eventually([&] { return live.renders.load() >= seen + 2; }));
    close(leaving);

    live.step = 1;
    const std::vector<uint8_t> bytes = ReadBytes(held, 1 << 16);
    close(held);
    const std::string answer(bytes.begin(), bytes.end());
    EXPECT_EQ(Status(answer), 200);
    EXPECT_EQ(Body(answer), "<p>step 1</p>");
    EXPECT_NE(HeaderValue(answer, "X-Live-Tag"), tag);
    EXPECT_EQ(server.DroppedConnections(), 0u);
    server.Stop();
  }
  ExpectAllReturned();
}

TEST_F(StatusServerTest, AHeldLiveRequestIsAnsweredUnchangedAtTheEndOfItsHold) {
  {
    SteppedLive live;
    StatusServer server({32, 3000ms, 5ms, 50ms}, &live);
    ASSERT_TRUE(server.Start(0));
    const std::string tag = HeaderValue(Get(server, "/zodevur_app/en/live.php?part=waiting"), "X-Live-Tag");
    const std::string answer = Get(server, "/zodevur_app/en/live.php?part=waiting&since=" + tag);
    EXPECT_EQ(Status(answer), 200);
    EXPECT_EQ(Body(answer), "<p>step 0</p>");
    EXPECT_EQ(HeaderValue(answer, "X-Live-Tag"), tag);
    // A held request that the server is stopped under goes with it.
    const int held = ConnectLoopback(server.Port());
    const std::string request = GetRequest(server, "/zodevur_app/en/live.php?part=waiting&since=" + tag);
    SendAll(held, {reinterpret_cast<const uint8_t*>(request.data()), request.size()});
    server.Stop();
    close(held);
  }
  ExpectAllReturned();
}

// The window's feed gets the first rendering at once, then only changes,
// and nothing once it is replaced.
TEST_F(StatusServerTest, TheLiveFeedHandsOnEachChangeOnce) {
  {
    SteppedLive live;
    StatusServer server({32, 3000ms, 5ms, 20000ms}, &live);
    ASSERT_TRUE(server.Start(0));
    std::mutex lock;
    std::vector<std::pair<uint64_t, std::string>> fed;
    auto feed = [&](uint64_t number, const std::string& html) {
      std::lock_guard hold(lock);
      fed.emplace_back(number, html);
    };
    auto count = [&] {
      std::lock_guard hold(lock);
      return fed.size();
    };
    const uint64_t first = server.FeedLive(LivePart::kConnected, feed);
    ASSERT_TRUE(Eventually([&] { return count() == 1; }));
    const int renders = live.renders.load();
    ASSERT_TRUE(Eventually([&] { return live.renders.load() >= renders + 3; }));
    EXPECT_EQ(count(), 1u) << "an unchanged part was handed on again";
    live.step = 1;
    ASSERT_TRUE(Eventually([&] { return count() == 2; }));

    // Another page: its first rendering comes at once, whatever the last one was.
    const uint64_t second = server.FeedLive(LivePart::kWaiting, feed);
    EXPECT_NE(second, first);
    ASSERT_TRUE(Eventually([&] { return count() == 3; }));
    server.FeedLive(std::nullopt, {});
    const size_t stopped = count();
    live.step = 2;
    const int after = live.renders.load();
    // The server keeps serving requests; the stopped feed hears nothing.
    EXPECT_EQ(Status(Get(server, "/zodevur_app/en/live.php?part=waiting")), 200);
    EXPECT_GT(live.renders.load(), after);
    EXPECT_EQ(count(), stopped);
    std::lock_guard hold(lock);
    EXPECT_EQ(fed[0], std::make_pair(first, std::string("<p>step 0</p>")));
    EXPECT_EQ(fed[1], std::make_pair(first, std::string("<p>step 1</p>")));
    EXPECT_EQ(fed[2], std::make_pair(second, std::string("<p>step 1</p>")));
    server.Stop();
  }
  ExpectAllReturned();
}

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
    bind(tcpHolder, reinterpret_cast<sockaddr*>(&any), sizeof any);
    listen(tcpHolder, 1);
    bind(udpHolder, reinterpret_cast<sockaddr*>(&any), sizeof any);

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

// The window side of a tick, without sends.
class QuietWindow final : public SupervisedWindow {
 public:
  void SetButtonBoxesEnabled(bool) override {}
  void ShowStatusControls(const StatusControls&) override {}
  void NavigateToPage(std::string_view page) override { pages.emplace_back(page); }
  void RepaintMainWindow() override {}
  void Announce() override {}
  std::vector<std::string> pages;
};

class ConnectedPage : public LinkTest {};

TEST_F(ConnectedPage, NamesTheLinkAndThePhonesAddressAfterAPhoneSentData) {
  StatusServer server;
  ASSERT_TRUE(server.Start(0));
  const int phone = Open(LinkKind::Wifi);
  sockaddr_in local{};
  socklen_t length = sizeof local;
  getsockname(phone, reinterpret_cast<sockaddr*>(&local), &length);
  const uint64_t messagesBefore = gStatus.wifiMessages.load();
  const std::vector<uint8_t> frame = BuildFrame(BuildFramedMessage({1000, 0, 1, 0, 0}));
  ASSERT_TRUE(SendAll(phone, frame));
  ASSERT_TRUE(UpdateWithX(16384 + 1000));

  QuietWindow window;
  SuperviseConnections(window);
  ASSERT_EQ(window.pages, std::vector<std::string>{"/zodevur_app/en/connected.php?v=5.1&type=wifi"});
  const std::string page = Get(server, window.pages[0]);
  EXPECT_EQ(Status(page), 200);
  EXPECT_TRUE(Contains(page, "<tr><th>Wi-Fi</th><td><span class=\"ok\">active</span> since")) << page;
  EXPECT_TRUE(Contains(page, "phone: 127.0.0.1:" + std::to_string(ntohs(local.sin_port))));
  EXPECT_TRUE(Contains(page, "<tr><th>Bluetooth</th><td><span class=\"idle\">not used"));
  EXPECT_EQ(gStatus.wifiMessages.load(), messagesBefore + 1);

  // Both links silent for a tick: no link is active any more.
  SuperviseConnections(window);
  EXPECT_TRUE(Contains(Get(server, "/zodevur_app/en/live.php?part=connected"),
                       "No phone is sending at the moment."));
  EXPECT_EQ(gStatus.wifiSince.load(), 0);
  server.Stop();
}

}  // namespace
}  // namespace wendrix
