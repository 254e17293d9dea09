#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "FakeDriver.h"
#include "decode/LegacyDecoder.h"
#include "joystick/ControlState.h"
#include "ui/Supervisor.h"
#include "ui/WebPages.h"

namespace wendrix {
namespace {

std::string RowName(const StatusControls& s) {
  for (int row = 1; row <= 4; ++row)
    if (s == StatusRow(row == 1 || row == 2, row == 1 || row == 3)) return "status " + std::to_string(row);
  return "status ?";
}

// Records what a tick does to the window, in order.
class FakeWindow : public SupervisedWindow {
 public:
  std::vector<std::string> log;
  void (*onAnnounce)() = nullptr;

  void SetButtonBoxesEnabled(bool enabled) override { log.push_back(enabled ? "enable" : "disable"); }
  void ShowStatusControls(const StatusControls& visible) override { log.push_back(RowName(visible)); }
  void NavigateToPage(std::string_view page) override { log.push_back("page " + std::string(page)); }
  void RepaintMainWindow() override { log.push_back("repaint"); }
  void Announce() override {
    log.push_back("announce");
    if (onAnnounce) onAnnounce();
  }
};

enum State { kIdle, kWifi, kBluetooth, kBoth };
const char* const kStateNames[] = {"Idle", "Wi-Fi", "Bluetooth", "Both"};

class Supervisor : public ::testing::Test {
 protected:
  void SetUp() override { test::ResetProcessState(); }

  void Tick(bool wifi, bool bluetooth) {
    gState.wifiDataSeen.store(wifi);
    gState.bluetoothDataSeen.store(bluetooth);
    SuperviseConnections(window_);
  }

  // From a fresh start into `state`, then forgets what that did.
  void Enter(State state) {
    if (state != kIdle) Tick(state != kBluetooth, state != kWifi);
    window_.log.clear();
    test::FakeDriver::Get().Reset();
  }

  static State Current() {
    const bool c = gState.connected, w = gState.wifiActive, b = gState.bluetoothActive;
    if (!c && !w && !b) return kIdle;
    if (c && w && !b) return kWifi;
    if (c && !w && b) return kBluetooth;
    if (c && w && b) return kBoth;
    ADD_FAILURE() << "inconsistent state c=" << c << " w=" << w << " b=" << b;
    return kIdle;
  }

  FakeWindow window_;
};

struct Transition {
  State from;
  bool wifi, bluetooth;
  State to;
  std::vector<std::string> actions;
};

const std::string kWaiting = "page " + std::string(kWaitingPage);
std::string Connected(const char* type) { return "page " + std::string(kConnectedPage) + type; }

TEST_F(Supervisor, EveryTransitionDoesExactlyItsActions) {
  const std::vector<Transition> table = {
      {kIdle, false, false, kIdle, {"announce"}},
      {kIdle, true, false, kWifi, {"announce", "enable", "status 2", Connected("wifi")}},
      {kIdle, false, true, kBluetooth, {"announce", "enable", "repaint", "status 3", Connected("bluetooth")}},
      {kIdle, true, true, kBoth, {"announce", "enable", "repaint", "status 1", Connected("both")}},
      {kWifi, false, false, kIdle, {"disable", "repaint", "status 4", kWaiting}},
      {kWifi, true, false, kWifi, {}},
      {kWifi, false, true, kBluetooth, {"repaint", "status 3", Connected("bluetooth")}},
      {kWifi, true, true, kBoth, {"repaint", "status 1", Connected("both")}},
      {kBluetooth, false, false, kIdle, {"disable", "repaint", "status 4", kWaiting}},
      {kBluetooth, true, false, kWifi, {"status 2", Connected("wifi")}},
      {kBluetooth, false, true, kBluetooth, {}},
      {kBluetooth, true, true, kBoth, {"status 1", Connected("both")}},
      {kBoth, false, false, kIdle, {"disable", "repaint", "status 4", kWaiting}},
      {kBoth, true, false, kWifi, {"status 2", Connected("wifi")}},
      {kBoth, false, true, kBluetooth, {"status 3", Connected("bluetooth")}},
      {kBoth, true, true, kBoth, {}},
  };
  for (const Transition& t : table) {
    SCOPED_TRACE(std::string(kStateNames[t.from]) + " W=" + std::to_string(t.wifi) +
                 " B=" + std::to_string(t.bluetooth));
    test::ResetProcessState();
    window_.log.clear();
    Enter(t.from);
    // Values the display shows, and a report button mask that must survive.
    ReportStore(gState.report.axisX, 1234);
    ReportStore(gState.report.axisY, 55);
    ReportStore(gState.report.buttons, 0x0Fu);
    gState.displayButtons.store(0x0F);
    gState.feedbackForce.store(7);

    Tick(t.wifi, t.bluetooth);

    EXPECT_EQ(window_.log, t.actions);
    EXPECT_EQ(Current(), t.to);
    EXPECT_EQ(gState.sequenceCheck.load(), t.to == kBoth);
    EXPECT_FALSE(gState.wifiDataSeen.load());
    EXPECT_FALSE(gState.bluetoothDataSeen.load());
    EXPECT_FALSE(gState.statusChanged.load());
    EXPECT_EQ(gState.pageChanged.load(), t.from != kIdle || t.to != kIdle);

    const bool reset = t.from != kIdle && t.to == kIdle;
    EXPECT_EQ(ReportLoad(gState.report.axisX), reset ? 0 : 1234);
    EXPECT_EQ(ReportLoad(gState.report.axisY), reset ? 32768 : 55);
    EXPECT_EQ(gState.feedbackForce.load(), reset ? -10000 : 7);
    EXPECT_EQ(gState.displayButtons.load(), reset ? 0 : 0x0F);
    EXPECT_EQ(ReportLoad(gState.report.buttons), 0x0Fu);
    EXPECT_TRUE(test::FakeDriver::Get().Updates().empty()) << "a tick never pushes the report";
  }
}

TEST_F(Supervisor, WithoutAPhoneEveryTickOnlyAnnounces) {
  for (int i = 0; i < 5; ++i) Tick(false, false);
  EXPECT_EQ(window_.log, std::vector<std::string>(5, "announce"));
  EXPECT_FALSE(gState.pageChanged.load());
  EXPECT_FALSE(gState.connected.load());
}

TEST_F(Supervisor, PageChangedStaysSetThroughLaterRefreshes) {
  Tick(true, false);   // connect
  Tick(false, false);  // disconnect
  window_.log.clear();
  Tick(false, true);
  Tick(true, true);
  EXPECT_TRUE(gState.pageChanged.load());
  EXPECT_EQ(window_.log, (std::vector<std::string>{"announce", "enable", "repaint", "status 3",
                                                   Connected("bluetooth"), "status 1", Connected("both")}));
}

TEST_F(Supervisor, StatusChangeBeforeAnyConnectLeavesThePaneAlone) {
  // A link state without a connect: status lines follow, the pane does not.
  gState.wifiActive.store(true);
  Tick(false, false);
  EXPECT_EQ(window_.log, (std::vector<std::string>{"announce", "status 4"}));
  EXPECT_FALSE(gState.pageChanged.load());
}

TEST_F(Supervisor, ReacquiresOncePerTickWhileTheDriverFailed) {
  auto relinquishes = [] {
    int n = 0;
    for (int32_t kind : test::FakeDriver::Get().Kinds()) n += kind == FAKE_VJOY_RELINQUISH;
    return n;
  };
  Enter(kWifi);
  for (int tick = 1; tick <= 3; ++tick) {
    gState.driverFailed.store(true);
    Tick(true, false);
    EXPECT_EQ(relinquishes(), tick);
    EXPECT_FALSE(gState.driverFailed.load());
  }
  Tick(true, false);
  EXPECT_EQ(relinquishes(), 3) << "no recovery without a failure";
  EXPECT_TRUE(window_.log.empty()) << "recovery changes nothing in the window";
  EXPECT_EQ(Current(), kWifi);

  Enter(kIdle);
  gState.connected.store(false);
  gState.wifiActive.store(false);
  gState.driverFailed.store(true);
  Tick(false, false);
  EXPECT_EQ(relinquishes(), 1) << "also while idle";
}

TEST_F(Supervisor, DataArrivingDuringATickCountsForTheNext) {
  // The flags were taken before the announcement; one raised meanwhile is
  // neither acted on nor lost.
  window_.onAnnounce = [] { gState.wifiDataSeen.store(true); };
  Tick(false, false);
  EXPECT_EQ(Current(), kIdle);
  EXPECT_TRUE(gState.wifiDataSeen.load());
  window_.onAnnounce = nullptr;
  SuperviseConnections(window_);
  EXPECT_EQ(Current(), kWifi);
}

TEST_F(Supervisor, DisconnectDuringADecoderCallLeavesTheAxesToItsMessage) {
  Enter(kWifi);
  ReportStore(gState.report.axisX, 1234);
  ReportStore(gState.report.axisY, 55);
  // A decoder between its report writes and its push holds legacyLock.
  std::promise<void> held, release;
  std::thread decoder([&] {
    std::lock_guard lock(legacyLock);
    held.set_value();
    release.get_future().wait();
  });
  held.get_future().wait();
  auto tick = std::async(std::launch::async, [&] { Tick(false, false); });
  const bool returned = tick.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
  release.set_value();
  decoder.join();
  tick.wait();
  ASSERT_TRUE(returned) << "the tick waited for the decoder";

  EXPECT_EQ(Current(), kIdle);
  EXPECT_EQ(ReportLoad(gState.report.axisX), 1234);
  EXPECT_EQ(ReportLoad(gState.report.axisY), 55);
  EXPECT_EQ(gState.displayButtons.load(), 0);
  EXPECT_EQ(gState.feedbackForce.load(), -10000);
}

TEST(StatusRow, ShowsOneControlPerLine) {
  const StatusControls both = StatusRow(true, true), wifi = StatusRow(true, false),
                       bluetooth = StatusRow(false, true), none = StatusRow(false, false);
  EXPECT_TRUE(both.connectionTcpConnected && both.connectionBluetoothConnected);
  EXPECT_TRUE(wifi.connectionTcpConnected && wifi.connectionBluetoothWaitingGray);
  EXPECT_TRUE(bluetooth.connectionTcpWaitingGray && bluetooth.connectionBluetoothConnected);
  EXPECT_TRUE(none.connectionTcpWaiting && none.connectionBluetoothWaiting);
  for (const StatusControls& s : {both, wifi, bluetooth, none}) {
    EXPECT_EQ(s.connectionTcpWaiting + s.connectionTcpWaitingGray + s.connectionTcpConnected, 1);
    EXPECT_EQ(
        s.connectionBluetoothWaiting + s.connectionBluetoothWaitingGray + s.connectionBluetoothConnected, 1);
  }
}

TEST(WebPages, LinksAreaIsACaseSensitivePrefixOfTheFullAddress) {
  const std::string base = "https://wendrix.example";
  EXPECT_TRUE(IsLinksAddress(base + "/zodevur_app/en/links/", base));
  EXPECT_TRUE(IsLinksAddress(base + "/zodevur_app/en/links/help.php?v=5.1", base));
  EXPECT_TRUE(IsLinksAddress(PageAddress(base, kHelpPage), base));
  EXPECT_FALSE(IsLinksAddress(base + "/ZODEVUR_APP/EN/LINKS/help.php", base));
  EXPECT_FALSE(IsLinksAddress(base + "/zodevur_app/en/links", base)) << "shorter than the prefix";
  EXPECT_FALSE(IsLinksAddress("http://wendrix.example/zodevur_app/en/links/x", base));
  EXPECT_FALSE(IsLinksAddress("https://other.example/zodevur_app/en/links/x", base));
  EXPECT_FALSE(IsLinksAddress("https://wendrix.example.evil/zodevur_app/en/links/x", base));
  EXPECT_FALSE(IsLinksAddress(PageAddress(base, kWaitingPage), base));
  EXPECT_FALSE(IsLinksAddress(PageAddress(base, kConnectedPage), base));
  EXPECT_FALSE(IsLinksAddress("", base));
}

TEST(WebPages, OnlyTheStatusPagesOfTheWindowsServerHaveALivePart) {
  const std::string base = "http://127.0.0.1:40123";
  EXPECT_EQ(LivePartShown(PageAddress(base, kWaitingPage), base), LivePart::kWaiting);
  EXPECT_EQ(LivePartShown(PageAddress(base, std::string(kConnectedPage) + "both"), base),
            LivePart::kConnected);
  EXPECT_EQ(LivePartShown(base + "/zodevur_app/en/connected.php#top", base), LivePart::kConnected);
  for (const std::string& address :
       {PageAddress(base, kHelpPage), base + "/zodevur_app/en/waiting.phpx",
        base + "/zodevur_app/en/live.php", std::string("http://127.0.0.1:40124/zodevur_app/en/waiting.php"),
        base + "/ZODEVUR_APP/EN/waiting.php", std::string()})
    EXPECT_FALSE(LivePartShown(address, base)) << address;
}

}  // namespace
}  // namespace wendrix
