// The Windows window in this process: its menu, its browser pane against
// pages served on 127.0.0.1, and the core's tick and paint driving it.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "WindowTestSupport_win32.h"
#include "joystick/Repaint.h"
#include "joystick/ControlState.h"
#include "status/HttpRequest.h"
#include "status/StatusPages.h"
#include "ui/MainFormIds_win32.h"
#include "ui/MainForm_win32.h"
#include "ui/WebPages.h"

namespace wendrix {
namespace {

namespace ids = form_ids;
using test::FindControl;
using test::PumpUntil;

// Live parts that never change.
class StillLive final : public LiveSource {
 public:
  std::string Render(LivePart) override { return "<p>live</p>"; }
};

// The program's own pages, answered by its page server's code.
std::string ProgramsAnswer(const std::string& request, unsigned short port, const std::string& root) {
  static StillLive live;
  return AnswerRequest(ParseHttpRequest(request), port, root, live);
}

class MainFormWin32Test : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    test::ClearOpenedAddresses();
    // Below a secret root, as the program's server.
    server = new test::PageServer(&ProgramsAnswer, "/0123456789abcdef0123456789abcdef");
    PrepareMainForm();
    MainFormSetup setup;
    setup.serverBase = server->Base();
    setup.startServices = [] {};
    form = new TMainForm(setup);
    ::ShowWindow(form->Handle(), SW_SHOW);
    ASSERT_TRUE(PumpUntil([] { return server->WasAskedFor(std::string(kWaitingPage)); }))
        << "the pane never asked for the waiting page";
    // Ticks come from the tests alone: Timer1's own could fall between a
    // test's tick and what it looks for.
    ::KillTimer(form->Handle(), 1);
  }

  static HWND Control(int id) { return FindControl(form->Handle(), id); }
  static std::string Address(std::string_view path) { return PageAddress(server->Base(), path); }
  static void Tick() { ::SendMessageW(form->Handle(), WM_TIMER, 1, 0); }

  static test::PageServer* server;
  static TMainForm* form;
};

test::PageServer* MainFormWin32Test::server = nullptr;
TMainForm* MainFormWin32Test::form = nullptr;

TEST_F(MainFormWin32Test, MenuHasHelpWithHelpAndVersionEntries) {
  HMENU menu = ::GetMenu(form->Handle());
  ASSERT_NE(menu, nullptr);
  ASSERT_EQ(::GetMenuItemCount(menu), 1);
  wchar_t text[64];
  ::GetMenuStringW(menu, 0, text, 64, MF_BYPOSITION);
  EXPECT_STREQ(text, L"Help");
  HMENU help = ::GetSubMenu(menu, 0);
  ASSERT_EQ(::GetMenuItemCount(help), 2);
  ::GetMenuStringW(help, 0, text, 64, MF_BYPOSITION);
  EXPECT_STREQ(text, L"Help");
  EXPECT_EQ(::GetMenuItemID(help, 0), static_cast<UINT>(ids::Help2));
  ::GetMenuStringW(help, 1, text, 64, MF_BYPOSITION);
  EXPECT_STREQ(text, L"Version 5.1");
  EXPECT_EQ(::GetMenuItemID(help, 1), static_cast<UINT>(ids::Version501));
}

TEST_F(MainFormWin32Test, HelpOpensTheHelpPageInTheDesktopBrowserAndVersionDoesNothing) {
  const size_t requestsBefore = server->Requests().size();
  const size_t openedBefore = test::OpenedAddresses().size();
  ::SendMessageW(form->Handle(), WM_COMMAND, ids::Version501, 0);
  ::SendMessageW(form->Handle(), WM_COMMAND, ids::Help2, 0);
  const std::string help = Address(kHelpPage);
  ASSERT_TRUE(PumpUntil([&] { return test::WasOpened(help); })) << "xdg-open never got " << help;
  test::Pump(500);
  EXPECT_EQ(test::OpenedAddresses().size(), openedBefore + 1) << "Version 5.1 opened something";
  EXPECT_EQ(server->Requests().size(), requestsBefore) << "a menu entry moved the pane";
}

TEST_F(MainFormWin32Test, LinksAreaOpensInTheDesktopBrowserOtherPagesInThePane) {
  const std::string links = "/zodevur_app/en/links/page.php?id=7";
  form->NavigateToPage(links);
  ASSERT_TRUE(PumpUntil([&] { return test::WasOpened(Address(links)); }))
      << "the links address never reached xdg-open";

  // Capitals are another address: it loads in the pane.
  const std::string capitals = "/zodevur_app/EN/LINKS/page.php";
  form->NavigateToPage(capitals);
  ASSERT_TRUE(PumpUntil([&] { return server->WasAskedFor(capitals); }));
  const std::string status = std::string(kConnectedPage) + "both";
  form->NavigateToPage(status);
  ASSERT_TRUE(PumpUntil([&] { return server->WasAskedFor(status); }));

  EXPECT_FALSE(server->WasAskedFor(links)) << "the diverted address reached the server";
  EXPECT_FALSE(test::WasOpened(Address(capitals)));
  EXPECT_FALSE(test::WasOpened(Address(status)));
}

// Every link of the waiting page into the links area, followed as a click
// in the pane would (Wine draws no page to click in), goes to the desktop's
// browser with the address the page gives, and never to the server.
TEST_F(MainFormWin32Test, LinksOfTheWaitingPageOpenInTheDesktopBrowser) {
  const std::string page =
      ProgramsAnswer("GET " + server->Root() + std::string(kWaitingPage) +
                         " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(server->Port()) + "\r\n\r\n",
                     server->Port(), server->Root());
  const std::string waiting = Address(kWaitingPage);
  const std::string origin = "http://127.0.0.1:" + std::to_string(server->Port());
  std::vector<std::string> links;
  for (size_t at = page.find("href=\""); at != std::string::npos; at = page.find("href=\"", at + 1)) {
    const size_t from = at + 6;
    const std::string href = page.substr(from, page.find('"', from) - from);
    // Relative to the page's folder, or to the server's origin.
    const std::string address =
        href.starts_with("/") ? origin + href : waiting.substr(0, waiting.rfind('/') + 1) + href;
    if (IsLinksAddress(address, server->Base())) links.push_back(address);
  }
  ASSERT_FALSE(links.empty()) << "the waiting page has no link into the links area:\n" << page;
  auto timesOpened = [](const std::string& address) {
    const std::vector<std::string> opened = test::OpenedAddresses();
    return std::count(opened.begin(), opened.end(), address);
  };
  for (const std::string& link : links) {
    const size_t requestsBefore = server->Requests().size();
    const auto openedBefore = timesOpened(link);
    form->NavigateToPage(link.substr(server->Base().size()));
    ASSERT_TRUE(PumpUntil([&] { return timesOpened(link) > openedBefore; }))
        << link << " never reached xdg-open";
    EXPECT_EQ(server->Requests().size(), requestsBefore) << link << " reached the server";
  }
}

// Serves the thread's messages but `kept` until done() or the time is up.
bool PumpAllBut(UINT kept, const std::function<bool()>& done, int timeoutMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, kept - 1, PM_REMOVE) ||
           ::PeekMessageW(&msg, nullptr, kept + 1, 0xFFFFFFFF, PM_REMOVE)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
    if (done()) return true;
    if (std::chrono::steady_clock::now() > end) return false;
    ::Sleep(10);
  }
}

// The pane's own event must not open anything itself: the open, which may
// serve messages while it waits, is posted to run once the event is over.
TEST_F(MainFormWin32Test, ADivertedLinkIsOpenedAfterThePanesEventReturns) {
  const std::string links = "/zodevur_app/en/links/after.php";
  auto openWaiting = [] {
    MSG msg;
    return ::PeekMessageW(&msg, form->Handle(), ids::kOpenDivertedLink, ids::kOpenDivertedLink,
                          PM_NOREMOVE) != FALSE;
  };
  form->NavigateToPage(links);
  ASSERT_TRUE(PumpAllBut(ids::kOpenDivertedLink, openWaiting, 15000)) << "the diverted link was not posted";
  // Time enough for an open done inside the event to reach xdg-open.
  PumpAllBut(
      ids::kOpenDivertedLink, [] { return false; }, 1500);
  EXPECT_FALSE(test::WasOpened(Address(links))) << "opened inside the pane's event";
  ASSERT_TRUE(PumpUntil([&] { return test::WasOpened(Address(links)); }));
  EXPECT_FALSE(server->WasAskedFor(links));
}

TEST_F(MainFormWin32Test, TicksSwitchStatusLinesBoxesAndPage) {
  gState.wifiDataSeen.store(true);
  Tick();
  EXPECT_TRUE(::IsWindowVisible(Control(ids::connectionTcpConnected)));
  EXPECT_TRUE(::IsWindowVisible(Control(ids::connectionBluetoothWaitingGray)));
  EXPECT_FALSE(::IsWindowVisible(Control(ids::connectionTcpWaiting)));
  EXPECT_FALSE(::IsWindowVisible(Control(ids::connectionBluetoothWaiting)));
  for (int k = 0; k < 8; ++k) EXPECT_TRUE(::IsWindowEnabled(Control(ids::chk1 + k))) << k;
  const std::string wifi = std::string(kConnectedPage) + "wifi";
  EXPECT_TRUE(PumpUntil([&] { return server->WasAskedFor(wifi); }));

  const size_t waitingBefore = server->Requests().size();
  Tick();  // silence: back to idle
  EXPECT_TRUE(::IsWindowVisible(Control(ids::connectionTcpWaiting)));
  EXPECT_TRUE(::IsWindowVisible(Control(ids::connectionBluetoothWaiting)));
  EXPECT_FALSE(::IsWindowVisible(Control(ids::connectionTcpConnected)));
  EXPECT_FALSE(::IsWindowVisible(Control(ids::connectionBluetoothWaitingGray)));
  for (int k = 0; k < 8; ++k) EXPECT_FALSE(::IsWindowEnabled(Control(ids::chk1 + k))) << k;
  EXPECT_TRUE(PumpUntil([&] { return server->Requests().size() > waitingBefore; }));
  EXPECT_EQ(server->Requests().back(), std::string(kWaitingPage));
}

TEST_F(MainFormWin32Test, RepaintRequestFromAnotherThreadRefreshesBarsAndBoxes) {
  ReportStore(gState.report.axisX, 12288);
  ReportStore(gState.report.axisY, 0);
  gState.displayButtons.store(0x05);
  std::thread([] { RequestRepaint(); }).join();
  auto pos = [](int id) { return ::SendMessageW(Control(id), PBM_GETPOS, 0, 0); };
  ASSERT_TRUE(PumpUntil([&] { return pos(ids::ProgressBar1) == 38; })) << pos(ids::ProgressBar1);
  EXPECT_EQ(pos(ids::ProgressBar2), 100);
  for (int k = 0; k < 8; ++k)
    EXPECT_EQ(::SendMessageW(Control(ids::chk1 + k), BM_GETCHECK, 0, 0),
              k == 0 || k == 2 ? BST_CHECKED : BST_UNCHECKED)
        << k;

  // Many requests from many threads make the window show the last values.
  gState.displayButtons.store(0x80);
  ReportStore(gState.report.axisX, 32768);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([] {
      for (int i = 0; i < 1000; ++i) RequestRepaint();
    });
  for (auto& t : threads) t.join();
  ASSERT_TRUE(PumpUntil([&] { return pos(ids::ProgressBar1) == 100; }));
  EXPECT_EQ(::SendMessageW(Control(ids::chk8), BM_GETCHECK, 0, 0), BST_CHECKED);
  EXPECT_EQ(::SendMessageW(Control(ids::chk1), BM_GETCHECK, 0, 0), BST_UNCHECKED);
}

}  // namespace
}  // namespace wendrix
