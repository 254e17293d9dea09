// Reads the running Wendrix window from outside, for scripts:
//   window_state state      one line: status lines, bars, boxes
//   window_state rect       the window's place on the screen: X Y WIDTH HEIGHT
//   window_state layout     client width, steering bar's width, status line's height
//   window_state themes     which of the bars and the first box are drawn themed
//   window_state help       chooses Help > Help
//   window_state close      asks the window to close
// Exit code 1 when no window is there.
#include <windows.h>

#include <commctrl.h>
#include <uxtheme.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "WindowTestSupport_win32.h"
#include "ui/MainFormIds_win32.h"

namespace {

namespace ids = wendrix::form_ids;
using wendrix::test::FindControl;

const char* LineState(HWND form, int waiting, int connected, int gray) {
  if (::IsWindowVisible(FindControl(form, connected))) return "connected";
  if (::IsWindowVisible(FindControl(form, gray))) return "notused";
  if (::IsWindowVisible(FindControl(form, waiting))) return "disconnected";
  return "none";
}

void PrintState(HWND form) {
  std::string boxes;
  bool enabled = true;
  for (int k = 0; k < 8; ++k) {
    HWND box = FindControl(form, ids::chk1 + k);
    boxes += ::SendMessageW(box, BM_GETCHECK, 0, 0) == BST_CHECKED ? '1' : '0';
    enabled = enabled && ::IsWindowEnabled(box);
  }
  std::printf(
      "wifi=%s bluetooth=%s steering=%ld pedals=%ld boxes=%s enabled=%d\n",
      LineState(form, ids::connectionTcpWaiting, ids::connectionTcpConnected, ids::connectionTcpWaitingGray),
      LineState(form, ids::connectionBluetoothWaiting, ids::connectionBluetoothConnected,
                ids::connectionBluetoothWaitingGray),
      static_cast<long>(::SendMessageW(FindControl(form, ids::ProgressBar1), PBM_GETPOS, 0, 0)),
      static_cast<long>(::SendMessageW(FindControl(form, ids::ProgressBar2), PBM_GETPOS, 0, 0)),
      boxes.c_str(), enabled ? 1 : 0);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  HWND form = ::FindWindowW(ids::kWindowClass, ids::kCaption);
  if (!form) return 1;
  if (std::strcmp(argv[1], "state") == 0) {
    PrintState(form);
  } else if (std::strcmp(argv[1], "rect") == 0) {
    RECT r;
    ::GetWindowRect(form, &r);
    std::printf("%ld %ld %ld %ld\n", static_cast<long>(r.left), static_cast<long>(r.top),
                static_cast<long>(r.right - r.left), static_cast<long>(r.bottom - r.top));
  } else if (std::strcmp(argv[1], "layout") == 0) {
    RECT client, bar, line;
    ::GetClientRect(form, &client);
    ::GetWindowRect(FindControl(form, ids::ProgressBar1), &bar);
    ::GetWindowRect(FindControl(form, ids::connectionTcpWaiting), &line);
    std::printf("client=%ld bar=%ld line=%ld\n", static_cast<long>(client.right),
                static_cast<long>(bar.right - bar.left), static_cast<long>(line.bottom - line.top));
  } else if (std::strcmp(argv[1], "themes") == 0) {
    auto themed = [&](int id) { return ::GetWindowTheme(FindControl(form, id)) ? "themed" : "plain"; };
    std::printf("steering=%s pedals=%s box=%s\n", themed(ids::ProgressBar1), themed(ids::ProgressBar2),
                themed(ids::chk1));
  } else if (std::strcmp(argv[1], "help") == 0) {
    ::PostMessageW(form, WM_COMMAND, ids::Help2, 0);
  } else if (std::strcmp(argv[1], "close") == 0) {
    ::PostMessageW(form, WM_CLOSE, 0, 0);
  } else {
    return 2;
  }
  return 0;
}
