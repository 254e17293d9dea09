// The program's only window on Windows, in plain Win32: status lines,
// controls, browser pane, menu. Its logic lives in the core (Supervisor,
// ControlDisplay); the window holds the components and forwards its events.
#pragma once

#include <windows.h>

#include <array>
#include <string>

#include "status/ServerBase.h"
#include "ui/ControlDisplay.h"
#include "ui/Supervisor.h"
#include "ui/WebBrowser_win32.h"

namespace wendrix {

// What the window is made with; tests replace the defaults. The page
// server's base starts the built-in server unless the build names another.
struct MainFormSetup {
  std::string serverBase = ServerBaseAddress();
  // Run first by FormCreate; the program's entry hands in the service start.
  void (*startServices)() = nullptr;
};

class TMainForm final : public SupervisedWindow, public ControlDisplayView {
 public:
  // Window thread, after PrepareMainForm. Creates the window and its components
  // and runs FormCreate; the window is not shown yet.
  explicit TMainForm(MainFormSetup setup = {});
  TMainForm(const TMainForm&) = delete;
  TMainForm& operator=(const TMainForm&) = delete;

  HWND Handle() const { return handle_; }

  // SupervisedWindow
  void SetButtonBoxesEnabled(bool enabled) override;
  void ShowStatusControls(const StatusControls& visible) override;
  void NavigateToPage(std::string_view pathAndQuery) override;
  void RepaintMainWindow() override;

  // ControlDisplayView
  void SetSteeringBar(int position) override;
  void SetPedalsBar(int position) override;
  void SetFeedbackForceBar(int position) override;
  void SetButtonBoxChecked(int index, bool checked) override;

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

  void CreateComponents();
  void FormCreate();
  void FormPaint();
  void Timer1Timer();
  void Help2Click();
  // Opens the address in the user's web browser.
  static void OpenInWebBrowser(const std::string& address);
  void WebBrowser1BeforeNavigate2(IDispatch* pDisp, VARIANT* URL, VARIANT* Flags, VARIANT* TargetFrameName,
                                  VARIANT* PostData, VARIANT* Headers, VARIANT_BOOL* Cancel);

  // v pixels at 96 dpi on this screen.
  int Scaled(int v) const;

  MainFormSetup setup_;
  int dpi_ = 96;
  HWND handle_ = nullptr;
  HFONT font_ = nullptr;
  HWND grp1 = nullptr;
  HWND redt1 = nullptr;
  HWND connectionTcpWaiting = nullptr;
  HWND connectionTcpConnected = nullptr;
  HWND connectionTcpWaitingGray = nullptr;
  HWND redt3 = nullptr;
  HWND connectionBluetoothWaiting = nullptr;
  HWND connectionBluetoothConnected = nullptr;
  HWND connectionBluetoothWaitingGray = nullptr;
  HWND Controls = nullptr;
  HWND ProgressBar1 = nullptr;
  HWND ProgressBar2 = nullptr;
  HWND ProgressBarFeedbackForce = nullptr;
  std::array<HWND, 8> chk{};  // chk1 ... chk8
  TWebBrowser WebBrowser1;
  HMENU MainMenu1 = nullptr;
  HMENU Help1 = nullptr;
};

// Once per thread that makes the window: OLE, the common controls and the
// rich-text library.
void PrepareMainForm();

// The whole life of the window: its preparation, the window, the message
// loop until it is closed.
void RunMainForm(MainFormSetup setup = {});

}  // namespace wendrix
