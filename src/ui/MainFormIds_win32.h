// Class name, control and menu identifiers of the Windows main window; a
// program reading the window from outside finds its controls by them.
#pragma once

#include <windows.h>

namespace wendrix::form_ids {

inline constexpr wchar_t kWindowClass[] = L"TMainForm";
inline constexpr wchar_t kCaption[] = L"Wendrix";

enum : int {
  grp1 = 100,
  redt1,
  connectionTcpWaiting,
  connectionTcpConnected,
  connectionTcpWaitingGray,
  redt3,
  connectionBluetoothWaiting,
  connectionBluetoothConnected,
  connectionBluetoothWaitingGray,
  Controls,
  Label6,
  ProgressBar1,
  Label7,
  ProgressBar2,
  lbl3,
  lbl4,
  lbl5,
  chk1,  // chk1 ... chk8 follow each other
  chk8 = chk1 + 7,
  Label9,
  Label8,
  ProgressBarFeedbackForce,
  WebBrowser1,
  // menu entries
  Help2 = 200,
  Version501,
};

// Posted to the window by the links filter: opens a diverted address (an
// std::string the message owns, in lParam) in the user's web browser.
inline constexpr UINT kOpenDivertedLink = WM_APP + 1;

}  // namespace wendrix::form_ids
