#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "Snapshots.h"
#include "link/Strings.h"
#include "status/HttpRequest.h"
#include "status/StatusPages.h"

namespace wendrix {
namespace {

constexpr uint16_t kPort = 40123;
constexpr std::string_view kRoot = "/0123456789abcdef0123456789abcdef";

class FixedSource final : public LiveSource {
 public:
  std::string Render(LivePart part) override {
    return part == LivePart::kConnected ? "<p>LIVE-CONNECTED</p>" : "<p>LIVE-WAITING</p>";
  }
};

struct Reply {
  int status = 0;
  std::string head;
  std::string body;
};

// Asks for `target` below `root`.
Reply Ask(const std::string& method, const std::string& target, const std::string& host = "127.0.0.1:40123",
          std::string_view root = kRoot) {
  const std::string text =
      method + " " + std::string(root) + target + " HTTP/1.1\r\nHost: " + host + "\r\n\r\n";
  FixedSource live;
  const std::string response = AnswerRequest(ParseHttpRequest(text), kPort, kRoot, live);
  Reply a;
  a.status = std::stoi(response.substr(9, 3));
  const size_t end = response.find("\r\n\r\n");
  a.head = response.substr(0, end + 2);
  a.body = response.substr(end + 4);
  return a;
}

std::string ContentType(const Reply& a) {
  const size_t at = a.head.find("Content-Type: ");
  return at == std::string::npos ? "" : a.head.substr(at + 14, a.head.find("\r\n", at) - at - 14);
}

TEST(StatusSite, EveryPageIsServedWithItsContentType) {
  struct Case {
    const char* target;
    const char* type;
    const char* contains;
  };
  for (const Case& c : {
           Case{"/zodevur_app/en/waiting.php?v=5.1", "text/html; charset=utf-8", "LIVE-WAITING"},
           Case{"/zodevur_app/en/connected.php?v=5.1&type=wifi", "text/html; charset=utf-8",
                "LIVE-CONNECTED"},
           Case{"/zodevur_app/en/connected.php?v=5.1&type=both", "text/html; charset=utf-8",
                "Phone connected"},
           Case{"/zodevur_app/en/links/help.php?v=5.1", "text/html; charset=utf-8", "Troubleshooting"},
           Case{"/zodevur_app/en/live.php?part=connected&t=1", "text/html; charset=utf-8", "LIVE-CONNECTED"},
           Case{"/zodevur_app/en/style.css", "text/css; charset=utf-8", "table.check"},
           Case{"/zodevur_app/en/live.js", "application/javascript; charset=utf-8", "XMLHttpRequest"},
       }) {
    const Reply a = Ask("GET", c.target);
    EXPECT_EQ(a.status, 200) << c.target;
    EXPECT_EQ(ContentType(a), c.type) << c.target;
    EXPECT_NE(a.body.find(c.contains), std::string::npos) << c.target;
    EXPECT_NE(a.head.find("Content-Length: " + std::to_string(a.body.size()) + "\r\n"), std::string::npos);
    EXPECT_NE(a.head.find("Cache-Control: no-store"), std::string::npos);
    // HEAD: the same head, no body.
    const Reply head = Ask("HEAD", c.target);
    EXPECT_EQ(head.status, 200);
    EXPECT_EQ(head.head, a.head);
    EXPECT_EQ(head.body, "");
  }
}

TEST(StatusSite, RefusesOtherMethodsPathsAndHosts) {
  for (const char* method : {"POST", "PUT", "DELETE", "OPTIONS", "TRACE", "CONNECT", "get"}) {
    const Reply a = Ask(method, "/zodevur_app/en/waiting.php?v=5.1");
    EXPECT_EQ(a.status, 405) << method;
    EXPECT_NE(a.head.find("Allow: GET, HEAD"), std::string::npos);
  }
  for (const char* target :
       {"/", "/zodevur_app/en/", "/zodevur_app/en/links/other.php", "/zodevur_app/EN/waiting.php",
        "/zodevur_app/en/waiting.php/x", "/zodevur_app/en/../en/waiting.php"})
    EXPECT_EQ(Ask("GET", target).status, 404) << target;
  const Reply missing = Ask("HEAD", "/zodevur_app/en/none.php");
  EXPECT_EQ(missing.status, 404);
  EXPECT_EQ(missing.body, "");
  // A name that a foreign page made point here, another port, no Host.
  for (const char* host : {"evil.example:40123", "127.0.0.1", "127.0.0.1:40124", "localhost",
                           "localhost.:40123", "127.0.0.2:40123", "", "127.0.0.1:40123x"})
    EXPECT_EQ(Ask("GET", "/zodevur_app/en/waiting.php?v=5.1", host).status, 403) << host;
  EXPECT_EQ(Ask("GET", "/zodevur_app/en/waiting.php?v=5.1", "LocalHost:40123").status, 200);
  FixedSource live;
  EXPECT_EQ(
      AnswerRequest(ParseHttpRequest("GET / HTTP/1.1\r\nHost: a\r\nHost: b\r\n\r\n"), kPort, kRoot, live)
          .substr(0, 12),
      "HTTP/1.1 400");
}

// Every user and program on the PC shares loopback: only an address that
// carries the server's secret reaches a page, and a refusal does not give
// the secret away.
TEST(StatusSite, OnlyAddressesBelowTheSecretReachThePages) {
  const std::string secret(kRoot);
  std::string flipped = secret;
  flipped.back() = 'e';
  std::string upper = secret;
  upper[11] = 'A';
  for (const std::string& root : {std::string(), std::string("/"), secret.substr(0, secret.size() - 1),
                                  secret + "0", flipped, upper, "/zodevur_app" + secret, secret + "/"}) {
    for (const char* target : {"/zodevur_app/en/waiting.php?v=5.1", "/zodevur_app/en/links/help.php?v=5.1",
                               "/zodevur_app/en/live.php?part=waiting&since=00ff"}) {
      const Reply a = Ask("GET", target, "127.0.0.1:40123", root);
      EXPECT_EQ(a.status, 404) << root << target;
      EXPECT_EQ(a.body.find(secret.substr(1)), std::string::npos) << "the refusal names the secret";
      EXPECT_EQ(a.head.find(secret.substr(1)), std::string::npos);
    }
    const std::string request =
        "GET " + root + "/zodevur_app/en/live.php?since=1 HTTP/1.1\r\nHost: 127.0.0.1:40123\r\n\r\n";
    EXPECT_FALSE(WaitingLiveRequest(ParseHttpRequest(request), kPort, kRoot)) << root;
  }
  EXPECT_EQ(Ask("GET", "/zodevur_app/en/links/help.php?v=5.1").status, 200);
}

// Only a GET of live.php from the server's own host that names a tag may
// be held; the tag tells renderings apart.
TEST(StatusSite, OnlyALiveRequestWithATagMayWait) {
  auto wait = [](const std::string& method, const std::string& target,
                 const std::string& host = "127.0.0.1:40123") {
    return WaitingLiveRequest(ParseHttpRequest(method + " " + std::string(kRoot) + target +
                                               " HTTP/1.1\r\nHost: " + host + "\r\n\r\n"),
                              kPort, kRoot);
  };
  const auto held = wait("GET", "/zodevur_app/en/live.php?part=connected&since=00ff&t=5");
  ASSERT_TRUE(held);
  EXPECT_EQ(held->part, LivePart::kConnected);
  EXPECT_EQ(held->since, "00ff");
  EXPECT_EQ(wait("GET", "/zodevur_app/en/live.php?since=1")->part, LivePart::kWaiting);
  for (const char* target : {"/zodevur_app/en/live.php?part=connected", "/zodevur_app/en/live.php?since=",
                             "/zodevur_app/en/waiting.php?since=1", "/zodevur_app/en/live.phpx?since=1",
                             "/live.php?since=1", "/zodevur_app/en/live.php"})
    EXPECT_FALSE(wait("GET", target)) << target;
  EXPECT_FALSE(wait("HEAD", "/zodevur_app/en/live.php?since=1"));
  EXPECT_FALSE(wait("GET", "/zodevur_app/en/live.php?since=1", "evil.example:40123"));

  const Reply live = Ask("GET", "/zodevur_app/en/live.php?part=connected");
  EXPECT_NE(live.head.find("\r\nX-Live-Tag: " + LiveTag("<p>LIVE-CONNECTED</p>") + "\r\n"),
            std::string::npos);
  EXPECT_EQ(LiveTag("").size(), 16u);
  EXPECT_NE(LiveTag("<p>1 s</p>"), LiveTag("<p>2 s</p>"));
  EXPECT_EQ(LiveTag("<p>1 s</p>"), LiveTag("<p>1 s</p>"));
}

// The window splices each new live part into the page it shows, in place
// of the one the page came with, nested divs and all.
TEST(StatusSite, ALivePartReplacesTheOneInThePage) {
  const std::string page = Ask("GET", "/zodevur_app/en/waiting.php?v=5.1").body;
  ASSERT_NE(page.find("<p>LIVE-WAITING</p>"), std::string::npos);
  const std::string live = "<div class=\"a\"><div>x</div>\n</div><div\tclass=\"b\">y</div><p>divider</p>";
  const std::optional<std::string> spliced = ReplaceLivePart(page, live);
  ASSERT_TRUE(spliced);
  EXPECT_EQ(spliced->find("LIVE-WAITING"), std::string::npos);
  const size_t at = spliced->find(live);
  ASSERT_NE(at, std::string::npos);
  EXPECT_EQ(spliced->substr(at + live.size(), 6), "</div>") << "ends where the live element ends";
  EXPECT_EQ(spliced->substr(0, at), page.substr(0, page.find("<p>LIVE-WAITING</p>")));
  // Again, into what it gave: the same page with the other part.
  const std::optional<std::string> again = ReplaceLivePart(*spliced, "<p>LIVE-WAITING</p>");
  ASSERT_TRUE(again);
  EXPECT_EQ(*again, page);

  EXPECT_FALSE(ReplaceLivePart(Ask("GET", "/zodevur_app/en/links/help.php?v=5.1").body, live))
      << "no live part";
  EXPECT_FALSE(ReplaceLivePart("<p id=\"live\">x</p>", live)) << "not a div";
  EXPECT_FALSE(ReplaceLivePart("<div id=\"live\"><div>never closed</div>", live));
  EXPECT_FALSE(ReplaceLivePart("<div id=\"live\"", live));
  EXPECT_EQ(ReplaceLivePart("<div id=\"live\"></div>", "<b>z</b>"), "<div id=\"live\"><b>z</b></div>");
  EXPECT_EQ(ReplaceLivePart("<div id=\"live\"><divider/></div >", "z"), "<div id=\"live\">z</div >");
}

using test::Address;
using test::HealthySnapshot;

TEST(StatusSite, WaitingCheckShowsEveryFactAndNoProblemWhenAllIsWell) {
  const std::string html = RenderWaitingLive(HealthySnapshot());
  for (const char* fact :
       {"racing-pc", "198.18.0.1 &rarr; 198.18.0.255", "sent", "listening", "registered on channel 5",
        "ready", "ufw: off", "Nothing here stops a phone from connecting."})
    EXPECT_NE(html.find(fact), std::string::npos) << fact << "\n" << html;
  EXPECT_EQ(html.find("What stops a phone"), std::string::npos);
}

TEST(StatusSite, WaitingCheckNamesEachProblemWithItsFix) {
  struct Case {
    const char* name;
    void (*spoil)(StatusSnapshot&);
    const char* problem;
    std::string fix;
  };
  const PlatformAdvice& advice = Advice();
  for (const Case& c : {
           Case{"port", [](StatusSnapshot& s) { s.tcp = ListenerState::kPortBusy; },
                "Another program holds port 41503", advice.findPortOwner},
           Case{"joystick", [](StatusSnapshot& s) { s.joystick = JoystickState::kMissing; },
                "virtual joystick is not available", advice.joystickMissing},
           Case{"no address", [](StatusSnapshot& s) { s.announced.clear(); }, "no network address",
                "Wi-Fi network (or cable) that the phone uses"},
           Case{"send", [](StatusSnapshot& s) { s.announced[0].lastSend = SendResult::kFailed; },
                "Announcing on 198.18.0.1 failed", "cable or Wi-Fi"},
           Case{"firewall",
                [](StatusSnapshot& s) {
                  s.system.firewall.active = Answer::kYes;
                  s.system.firewall.allowsLinkPort = Answer::kNo;
                  s.system.firewall.fix = "sudo ufw allow 41503";
                },
                "ufw blocks port 41503", "sudo ufw allow 41503"},
           Case{"firewall unknown",
                [](StatusSnapshot& s) {
                  s.system.firewall.active = Answer::kYes;
                  s.system.firewall.fix = "sudo ufw allow 41503";
                },
                "cannot tell whether ufw lets 41503 in", "sudo ufw allow 41503"},
           // Not known to be on, and nothing lets the port in: it may well block.
           Case{"firewall maybe",
                [](StatusSnapshot& s) {
                  s.system.firewall.active = Answer::kUnknown;
                  s.system.firewall.allowsLinkPort = Answer::kNo;
                  s.system.firewall.fix = "sudo ufw allow 41503";
                },
                "ufw may block port 41503", "sudo ufw allow 41503"},
           Case{"bluez", [](StatusSnapshot& s) { s.bluetooth = BluetoothState::kNoBluez; },
                "Bluetooth is not available", advice.startBluetooth},
           Case{"adapter", [](StatusSnapshot& s) { s.system.bluetoothAdapters = 0; }, "No Bluetooth adapter",
                advice.noAdapter},
       }) {
    StatusSnapshot s = HealthySnapshot();
    c.spoil(s);
    const std::string html = RenderWaitingLive(s);
    EXPECT_NE(html.find(c.problem), std::string::npos) << c.name << "\n" << html;
    EXPECT_NE(html.find(c.fix), std::string::npos) << c.name << "\n" << html;
    EXPECT_EQ(html.find("Nothing here stops"), std::string::npos) << c.name;
  }
}

TEST(StatusSite, TextFromOutsideIsEscaped) {
  StatusSnapshot s = HealthySnapshot();
  s.system.computerName = "<script>alert('x')</script>&";
  s.system.firewall.name = "<b>fw</b>";
  s.system.firewall.active = Answer::kYes;
  s.system.firewall.fix = "\"><img src=x>";
  const std::string html = RenderWaitingLive(s);
  EXPECT_EQ(html.find("<script>"), std::string::npos);
  EXPECT_EQ(html.find("<b>fw</b>"), std::string::npos);
  EXPECT_EQ(html.find("<img"), std::string::npos);
  EXPECT_NE(html.find("&lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt;&amp;"), std::string::npos);
  EXPECT_EQ(EscapeMarkup("a<>&\"'b"), "a&lt;&gt;&amp;&quot;&#39;b");
}

TEST(StatusSite, ConnectedPageNamesTheLinksTheirRatesAndPeers) {
  StatusSnapshot s = HealthySnapshot();
  s.connected = true;
  s.now = 1'000'000'000'000;
  s.wifi = {true, s.now - 75'000, 4000, 50};
  s.wifiPeer = Address("198.18.0.7");
  s.wifiPeerPort = 50123;
  std::string html = RenderConnectedLive(s);
  EXPECT_NE(html.find("active"), std::string::npos);
  // Whole minutes, so that the page does not change every second.
  EXPECT_NE(html.find("(1 min)"), std::string::npos) << html;
  EXPECT_NE(html.find("50 messages per second"), std::string::npos);
  EXPECT_NE(html.find("198.18.0.7:50123"), std::string::npos);
  EXPECT_NE(html.find("<tr><th>Bluetooth</th><td><span class=\"idle\">not used"), std::string::npos);

  s.bluetoothLink = {true, s.now - 1000, 10, 2};
  s.bluetoothPeer = 0x0011223344AAull;
  html = RenderConnectedLive(s);
  EXPECT_NE(html.find("00:11:22:33:44:AA"), std::string::npos) << html;
  // The phone's own name, as the Bluetooth service knows it, is outside text.
  s.bluetoothPeerName = "Ann's <phone>";
  html = RenderConnectedLive(s);
  EXPECT_NE(html.find("phone: Ann&#39;s &lt;phone&gt; (00:11:22:33:44:AA)"), std::string::npos) << html;
}

TEST(StatusSite, MessageRateIsCountedOverAtLeastASecond) {
  MessageRate rate;
  EXPECT_EQ(rate.Sample(100, 10'000), 0);
  EXPECT_EQ(rate.Sample(120, 10'500), 0);  // too soon: the last rate stays
  EXPECT_DOUBLE_EQ(rate.Sample(150, 11'000), 50);
  EXPECT_DOUBLE_EQ(rate.Sample(150, 11'400), 50);
  EXPECT_DOUBLE_EQ(rate.Sample(150, 13'000), 0);
}

// A phone's messages come unevenly; what the page shows of a steady
// stream must not move every second, or the page is redrawn for nothing.
TEST(StatusSite, MessageRateOfASteadyStreamHoldsStill) {
  MessageRate rate;
  int64_t now = 50'000;
  uint64_t count = 0;
  rate.Sample(count, now);
  // The stream starts half-way through a second: that second shows what came.
  now += 1000;
  count += 50;
  EXPECT_DOUBLE_EQ(rate.Sample(count, now), 50);
  // Then 100 a second, give or take a few, sampled every 1000 to 1020 ms.
  const int jitter[] = {0, 3, -2, 1, -3, 2, 0, -1, 3, -3, 2, 1, -2, 0, 2, -1, -3, 3, 0, 1};
  std::vector<double> shown;
  for (int i = 0; i < 20; ++i) {
    const int64_t step = 1000 + (i * 7) % 21;
    now += step;
    count += static_cast<uint64_t>(100 * step / 1000 + jitter[i]);
    shown.push_back(rate.Sample(count, now));
  }
  EXPECT_NEAR(shown[0], 100, 4);
  for (size_t i = 1; i < shown.size(); ++i) EXPECT_EQ(shown[i], shown[0]) << "second " << i;
  // A real change shows within the average's few seconds.
  for (int i = 0; i < 5; ++i) {
    now += 1000;
    count += 60;
    rate.Sample(count, now);
  }
  EXPECT_NEAR(rate.Sample(count += 60, now += 1000), 60, 1);
  // A stream that stops shows 0 at once; one that starts again shows at once.
  EXPECT_EQ(rate.Sample(count, now += 1000), 0);
  EXPECT_DOUBLE_EQ(rate.Sample(count += 30, now += 1000), 30);
  // A counter that went back (the link came up again) starts over.
  EXPECT_EQ(rate.Sample(5, now += 1000), 0);

  // Not sampled for ten minutes (another page was shown), in which the
  // stream stopped and came back at 100 a second: the figure follows the
  // stream as it is now, not an average reaching back over the pause.
  count = 5;
  for (int i = 0; i < 6; ++i) rate.Sample(count += 100, now += 1000);
  rate.Sample(count += 100, now += 600'000);
  EXPECT_NEAR(rate.Sample(count += 100, now += 1000), 100, 1);
}

}  // namespace
}  // namespace wendrix
