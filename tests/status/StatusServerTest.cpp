// The page server on real loopback sockets: pages, bad and hostile
// clients, live parts held until they change, the window's feed, and the
// connected page after a phone sent data. Both platforms.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "LinkFixture.h"
#include "LinkTestSupport.h"
#include "StatusServerFixture.h"
#include "joystick/StatusRecord.h"
#include "status/StatusPages.h"
#include "status/StatusServer.h"
#include "ui/Supervisor.h"

namespace wendrix {
namespace {

using namespace test;

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
    CloseClient(ConnectLoopback(server.Port()));
    CloseWithReset(ConnectLoopback(server.Port()));
    EXPECT_EQ(Status(Get(server, kWaiting)), 200);
    server.Stop();
  }
  ExpectAllReturned();
}

TEST_F(StatusServerTest, SlowAndSilentClientsAreDroppedWithoutKeepingOthersOut) {
  ASSERT_TRUE(AllowDescriptors(2000)) << "too few descriptors allowed";
  {
    StatusServer server({8, std::chrono::milliseconds(300)});
    ASSERT_TRUE(server.Start(0));

    // One byte every 100 ms: dropped long before its request could be whole.
    const std::string request = GetRequest(server, kWaiting);
    const int slow = ConnectLoopback(server.Port());
    size_t sent = 0;
    std::string answer;
    while (sent < request.size()) {
      if (ClientSend(slow, reinterpret_cast<const uint8_t*>(request.data()) + sent, 1) != 1) break;
      ++sent;
      std::this_thread::sleep_for(100ms);
      uint8_t byte;
      if (ClientReadable(slow, std::chrono::steady_clock::now() + 1ms) && ClientReceive(slow, &byte, 1) <= 0)
        break;
    }
    EXPECT_LT(sent, request.size()) << "the slow client got to finish its request";
    EXPECT_TRUE(PeerClosed(slow));
    CloseClient(slow);
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
    for (int fd : silent) CloseClient(fd);
    EXPECT_EQ(Status(Get(server, kWaiting)), 200);
    server.Stop();
  }
  ExpectAllReturned();
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
    EXPECT_FALSE(ClientReadable(held, std::chrono::steady_clock::now() + 50ms))
        << "answered without a change";
    // Other requests are served meanwhile.
    EXPECT_EQ(Status(Get(server, kWaiting)), 200);

    // A client that gives up while held is let go.
    const int leaving = ConnectLoopback(server.Port());
    SendAll(leaving, {reinterpret_cast<const uint8_t*>(request.data()), request.size()});
    const int seen = live.renders.load();
    ASSERT_TRUE(Eventually([&] { return live.renders.load() >= seen + 2; }));
    CloseClient(leaving);

    live.step = 1;
    const std::vector<uint8_t> bytes = ReadBytes(held, 1 << 16);
    CloseClient(held);
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
    CloseClient(held);
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
  EXPECT_TRUE(Contains(page, "phone: 127.0.0.1:" + std::to_string(test::LocalPort(phone))));
  EXPECT_TRUE(Contains(page, "<tr><th>Bluetooth</th><td><span class=\"idle\">not used"));
  EXPECT_EQ(gStatus.wifiMessages.load(), messagesBefore + 1);

  // Both links silent for a tick: no link is active any more.
  SuperviseConnections(window);
  EXPECT_TRUE(
      Contains(Get(server, "/zodevur_app/en/live.php?part=connected"), "No phone is sending at the moment."));
  EXPECT_EQ(gStatus.wifiSince.load(), 0);
  server.Stop();
}

}  // namespace
}  // namespace wendrix
