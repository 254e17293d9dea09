#include "ui/MainForm_win32.h"

#include <commctrl.h>
#include <richedit.h>
#include <shellapi.h>
#include <uxtheme.h>

#include <memory>
#include <utility>

#include "joystick/Repaint.h"
#include "ui/MainFormIds_win32.h"
#include "ui/WebPages.h"

namespace wendrix {

namespace ids = form_ids;

namespace {

constexpr UINT_PTR kTimer1 = 1;
constexpr UINT kTimer1Interval = 500;

constexpr COLORREF kBlack = RGB(0, 0, 0);
constexpr COLORREF kBrickRed = RGB(160, 70, 50);
constexpr COLORREF kTeal = RGB(0, 128, 128);
constexpr COLORREF kGrey = RGB(128, 128, 128);

HMENU ChildId(int id) { return reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)); }

// Any thread, once per run of requests: marks the whole window for a paint.
// The system merges the marks into one WM_PAINT.
void InvalidateMainWindow(void* window) { ::InvalidateRect(static_cast<HWND>(window), nullptr, FALSE); }

// The address a navigation event carries, as text in the system's code page.
std::string VariantText(VARIANT* value) {
  while (value && value->vt == (VT_BYREF | VT_VARIANT)) value = value->pvarVal;
  if (!value) return {};
  VARIANT text;
  ::VariantInit(&text);
  if (FAILED(::VariantChangeType(&text, value, 0, VT_BSTR)) || !text.bstrVal) return {};
  std::string narrow;
  const int wide = static_cast<int>(::SysStringLen(text.bstrVal));
  const int n = ::WideCharToMultiByte(CP_ACP, 0, text.bstrVal, wide, nullptr, 0, nullptr, nullptr);
  if (n > 0) {
    narrow.resize(static_cast<size_t>(n));
    ::WideCharToMultiByte(CP_ACP, 0, text.bstrVal, wide, narrow.data(), n, nullptr, nullptr);
  }
  ::VariantClear(&text);
  return narrow;
}

// Clears the line and inserts the text, bold, in the colour.
void WriteTextLine(HWND line, const wchar_t* text, COLORREF colour) {
  ::SendMessageW(line, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L""));
  CHARFORMAT2W format{};
  format.cbSize = sizeof format;
  format.dwMask = CFM_COLOR | CFM_BOLD;
  format.dwEffects = CFE_BOLD;
  format.crTextColor = colour;
  ::SendMessageW(line, EM_SETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
  ::SendMessageW(line, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text));
}

// Controls on a group box or the window take the face colour behind their text.
LRESULT FaceColour(WPARAM dc) {
  ::SetBkColor(reinterpret_cast<HDC>(dc), ::GetSysColor(COLOR_BTNFACE));
  return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_BTNFACE));
}

// A group box holds its controls as a container; it fills its own face,
// which the system's group box leaves to its parent.
LRESULT CALLBACK GroupBoxProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR) {
  switch (message) {
    case WM_ERASEBKGND: {
      RECT client;
      ::GetClientRect(box, &client);
      ::FillRect(reinterpret_cast<HDC>(wParam), &client, ::GetSysColorBrush(COLOR_BTNFACE));
      return TRUE;
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
      return FaceColour(wParam);
    default:
      return ::DefSubclassProc(box, message, wParam, lParam);
  }
}

}  // namespace

TMainForm::TMainForm(MainFormSetup setup) : setup_(std::move(setup)) {
  HDC screen = ::GetDC(nullptr);
  dpi_ = ::GetDeviceCaps(screen, LOGPIXELSY);
  ::ReleaseDC(nullptr, screen);
  if (dpi_ <= 0) dpi_ = 96;

  const HINSTANCE instance = ::GetModuleHandleW(nullptr);
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = &TMainForm::WindowProc;
  wc.hInstance = instance;
  wc.hIcon = ::LoadIconW(instance, MAKEINTRESOURCEW(1));
  wc.hIconSm =
      static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON,
                                      ::GetSystemMetrics(SM_CXSMICON), ::GetSystemMetrics(SM_CYSMICON), 0));
  wc.hCursor = ::LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = ids::kWindowClass;
  ::RegisterClassExW(&wc);

  MainMenu1 = ::CreateMenu();
  Help1 = ::CreatePopupMenu();
  ::AppendMenuW(Help1, MF_STRING, ids::Help2, L"Help");
  ::AppendMenuW(Help1, MF_STRING, ids::Version501, L"Version 5.1");
  ::AppendMenuW(MainMenu1, MF_POPUP, reinterpret_cast<UINT_PTR>(Help1), L"Help");

  // The window and its menu bar are 474 x 626 on a 96 dpi screen, as on Linux.
  const DWORD style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
  RECT outer{0, 0, Scaled(474), Scaled(626)};
  ::AdjustWindowRectEx(&outer, style, FALSE, 0);
  handle_ = ::CreateWindowExW(0, ids::kWindowClass, ids::kCaption, style, Scaled(349), Scaled(131),
                              outer.right - outer.left, outer.bottom - outer.top, nullptr, MainMenu1,
                              instance, this);

  LOGFONTW lf{};
  lf.lfHeight = -::MulDiv(8, dpi_, 72);  // 8 points: -11 at 96 dpi
  lf.lfCharSet = DEFAULT_CHARSET;
  wcscpy_s(lf.lfFaceName, L"MS Sans Serif");
  font_ = ::CreateFontIndirectW(&lf);

  CreateComponents();
  InstallRepaintHook(&InvalidateMainWindow, handle_);
  FormCreate();
}

int TMainForm::Scaled(int v) const { return ::MulDiv(v, dpi_, 96); }

void TMainForm::CreateComponents() {
  const HINSTANCE instance = ::GetModuleHandleW(nullptr);
  auto add = [&](HWND parent, const wchar_t* cls, const wchar_t* text, DWORD style, int id, int left, int top,
                 int width, int height) {
    HWND control = ::CreateWindowExW(0, cls, text, WS_CHILD | style, Scaled(left), Scaled(top), Scaled(width),
                                     Scaled(height), parent, ChildId(id), instance, nullptr);
    ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    return control;
  };
  // Labels size themselves to their text.
  auto label = [&](HWND parent, const wchar_t* text, int id, int left, int top) {
    HWND control = add(parent, L"STATIC", text, WS_VISIBLE | SS_LEFT, id, left, top, 0, 0);
    HDC dc = ::GetDC(control);
    HGDIOBJ old = ::SelectObject(dc, font_);
    SIZE size{};
    ::GetTextExtentPoint32W(dc, text, static_cast<int>(wcslen(text)), &size);
    ::SelectObject(dc, old);
    ::ReleaseDC(control, dc);
    ::SetWindowPos(control, HWND_TOP, 0, 0, size.cx, size.cy, SWP_NOMOVE);
    return control;
  };
  auto textLine = [&](int id, int left, int top, int width, bool visible) {
    HWND line =
        add(grp1, MSFTEDIT_CLASS, L"", (visible ? WS_VISIBLE : 0) | ES_READONLY, id, left, top, width, 17);
    ::SendMessageW(line, EM_SETBKGNDCOLOR, 0, static_cast<LPARAM>(::GetSysColor(COLOR_BTNFACE)));
    return line;
  };
  auto bar = [&](HWND parent, int id, int left, int top, int width, bool visible) {
    HWND control = add(parent, PROGRESS_CLASSW, L"",
                       (visible ? WS_VISIBLE : 0) | WS_CLIPSIBLINGS | PBS_SMOOTH, id, left, top, width, 17);
    ::SendMessageW(control, PBM_SETRANGE32, 0, 100);
    // A themed bar glides to each new position over a fraction of a
    // second and would trail the phone; an unthemed smooth bar is drawn
    // at its position at once. " " names no theme class ("" is refused by
    // some theme managers). The edge shows the bar's empty part.
    ::SetWindowTheme(control, L" ", L" ");
    ::SetWindowLongPtrW(control, GWL_EXSTYLE, WS_EX_STATICEDGE);
    ::SetWindowPos(control, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED);
    return control;
  };

  auto group = [&](const wchar_t* caption, int id, int left, int top, int width, int height) {
    HWND box = add(handle_, L"BUTTON", caption, WS_VISIBLE | BS_GROUPBOX | WS_CLIPCHILDREN, id, left, top,
                   width, height);
    ::SetWindowSubclass(box, &GroupBoxProc, 0, 0);
    return box;
  };
  grp1 = group(L"Connection with smartphone ", ids::grp1, 16, 16, 425, 88);
  redt1 = textLine(ids::redt1, 13, 27, 60, true);
  connectionTcpWaiting = textLine(ids::connectionTcpWaiting, 75, 27, 236, true);
  connectionTcpConnected = textLine(ids::connectionTcpConnected, 75, 27, 236, false);
  connectionTcpWaitingGray = textLine(ids::connectionTcpWaitingGray, 75, 27, 236, false);
  redt3 = textLine(ids::redt3, 13, 53, 68, true);
  connectionBluetoothWaiting = textLine(ids::connectionBluetoothWaiting, 75, 53, 212, true);
  connectionBluetoothConnected = textLine(ids::connectionBluetoothConnected, 75, 53, 212, false);
  connectionBluetoothWaitingGray = textLine(ids::connectionBluetoothWaitingGray, 75, 53, 212, false);

  Controls = group(L"Controls", ids::Controls, 16, 119, 425, 139);
  label(Controls, L"Steering:", ids::Label6, 13, 28);
  ProgressBar1 = bar(Controls, ids::ProgressBar1, 80, 28, 331, true);
  label(Controls, L"Pedals:", ids::Label7, 13, 67);
  ProgressBar2 = bar(Controls, ids::ProgressBar2, 80, 67, 331, true);
  label(Controls, L"Gear up:", ids::lbl3, 13, 106);
  label(Controls, L"Gear down:", ids::lbl4, 85, 106);
  label(Controls, L"Buttons:", ids::lbl5, 173, 106);
  static constexpr int kBoxLeft[8] = {63, 151, 224, 256, 288, 320, 352, 384};
  for (int k = 0; k < 8; ++k)
    chk[static_cast<size_t>(k)] = add(Controls, L"BUTTON", L"", WS_VISIBLE | WS_DISABLED | BS_CHECKBOX,
                                      ids::chk1 + k, kBoxLeft[k], 105, 18, 17);
  // Over the middle of each bar.
  label(Controls, L"|", ids::Label9, 240, 20);
  label(Controls, L"|", ids::Label8, 241, 59);

  ProgressBarFeedbackForce = bar(handle_, ids::ProgressBarFeedbackForce, 112, 225, 318, false);

  WebBrowser1.Create(
      handle_, ids::WebBrowser1, RECT{Scaled(16), Scaled(275), Scaled(16 + 425), Scaled(275 + 276)},
      [this](IDispatch* pDisp, VARIANT* URL, VARIANT* Flags, VARIANT* TargetFrameName, VARIANT* PostData,
             VARIANT* Headers, VARIANT_BOOL* Cancel) {
        WebBrowser1BeforeNavigate2(pDisp, URL, Flags, TargetFrameName, PostData, Headers, Cancel);
      });

  ::SetTimer(handle_, kTimer1, kTimer1Interval, nullptr);
}

void TMainForm::FormCreate() {
  if (setup_.startServices) setup_.startServices();
  NavigateToPage(kWaitingPage);
  WriteTextLine(redt1, L"Wi-Fi:", kBlack);
  WriteTextLine(connectionTcpWaiting, L" disconnected", kBrickRed);
  WriteTextLine(connectionTcpConnected, L" connected", kTeal);
  WriteTextLine(connectionTcpWaitingGray, L" not used", kGrey);
  WriteTextLine(redt3, L"Bluetooth:", kBlack);
  WriteTextLine(connectionBluetoothWaiting, L" disconnected", kBrickRed);
  WriteTextLine(connectionBluetoothConnected, L" connected", kTeal);
  WriteTextLine(connectionBluetoothWaitingGray, L" not used", kGrey);
}

LRESULT CALLBACK TMainForm::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* form = static_cast<TMainForm*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    form->handle_ = window;
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
  }
  auto* form = reinterpret_cast<TMainForm*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (!form) return ::DefWindowProcW(window, message, wParam, lParam);
  return form->HandleMessage(message, wParam, lParam);
}

LRESULT TMainForm::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      ::BeginPaint(handle_, &ps);
      ::EndPaint(handle_, &ps);
      FormPaint();
      return 0;
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
      return FaceColour(wParam);
    case WM_TIMER:
      if (wParam == kTimer1) Timer1Timer();
      return 0;
    case WM_COMMAND:
      if (HIWORD(wParam) == 0 && LOWORD(wParam) == ids::Help2) Help2Click();
      return 0;  // Version501 has no action
    case ids::kOpenDivertedLink: {
      // Posted by WebBrowser1BeforeNavigate2 once its event is over.
      const std::unique_ptr<std::string> address(reinterpret_cast<std::string*>(lParam));
      if (address) OpenInWebBrowser(*address);
      return 0;
    }
    case WM_DESTROY:
      // Decoder threads keep requesting repaints until the process ends.
      InstallRepaintHook(nullptr, nullptr);
      ::KillTimer(handle_, kTimer1);
      ::PostQuitMessage(0);
      return 0;
    default:
      return ::DefWindowProcW(handle_, message, wParam, lParam);
  }
}

// The bars and boxes repaint themselves; nothing here marks the window again.
void TMainForm::FormPaint() {
  TakeRepaintRequest();
  RefreshControls(*this);
}

void TMainForm::Timer1Timer() { SuperviseConnections(*this); }

void TMainForm::Help2Click() { OpenInWebBrowser(PageAddress(setup_.serverBase, kHelpPage)); }

void TMainForm::OpenInWebBrowser(const std::string& address) {
  ::ShellExecuteA(nullptr, nullptr, address.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

// Addresses in the links area open in the user's web browser, not here.
// ShellExecuteA may serve window messages while it waits, and a tick among
// them would navigate the pane inside the pane's own event: the open is
// posted to run once the event has returned.
void TMainForm::WebBrowser1BeforeNavigate2(IDispatch*, VARIANT* URL, VARIANT*, VARIANT*, VARIANT*, VARIANT*,
                                           VARIANT_BOOL* Cancel) {
  const std::string links = PageAddress(setup_.serverBase, kLinksArea);
  if (!StartsWithPrefixA(VariantText(URL).c_str(), links.c_str())) return;
  *Cancel = VARIANT_TRUE;
  WebBrowser1.Stop();
  auto address = std::make_unique<std::string>(VariantText(URL));
  if (::PostMessageW(handle_, ids::kOpenDivertedLink, 0, reinterpret_cast<LPARAM>(address.get())))
    (void)address.release();  // the message owns it now
}

void TMainForm::SetButtonBoxesEnabled(bool enabled) {
  for (HWND box : chk) ::EnableWindow(box, enabled);
}

void TMainForm::ShowStatusControls(const StatusControls& visible) {
  auto show = [](HWND control, bool on) { ::ShowWindow(control, on ? SW_SHOW : SW_HIDE); };
  show(connectionTcpWaiting, visible.connectionTcpWaiting);
  show(connectionTcpWaitingGray, visible.connectionTcpWaitingGray);
  show(connectionBluetoothWaiting, visible.connectionBluetoothWaiting);
  show(connectionBluetoothWaitingGray, visible.connectionBluetoothWaitingGray);
  show(connectionTcpConnected, visible.connectionTcpConnected);
  show(connectionBluetoothConnected, visible.connectionBluetoothConnected);
}

void TMainForm::NavigateToPage(std::string_view pathAndQuery) {
  WebBrowser1.Navigate(PageAddress(setup_.serverBase, pathAndQuery).c_str());
}

void TMainForm::RepaintMainWindow() { RequestRepaint(); }

void TMainForm::SetSteeringBar(int position) { ::SendMessageW(ProgressBar1, PBM_SETPOS, position, 0); }
void TMainForm::SetPedalsBar(int position) { ::SendMessageW(ProgressBar2, PBM_SETPOS, position, 0); }
void TMainForm::SetFeedbackForceBar(int position) {
  ::SendMessageW(ProgressBarFeedbackForce, PBM_SETPOS, position, 0);
}
void TMainForm::SetButtonBoxChecked(int index, bool checked) {
  ::SendMessageW(chk.at(static_cast<size_t>(index)), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

void PrepareMainForm() {
  ::OleInitialize(nullptr);
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
  ::InitCommonControlsEx(&controls);
  ::LoadLibraryW(L"msftedit.dll");  // RICHEDIT50W
}

void RunMainForm(MainFormSetup setup) {
  PrepareMainForm();

  // Never freed: the process ends right after the loop, threads still running.
  auto* form = new TMainForm(std::move(setup));
  ::ShowWindow(form->Handle(), SW_SHOWNORMAL);
  ::UpdateWindow(form->Handle());

  MSG msg;
  while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
}

}  // namespace wendrix
