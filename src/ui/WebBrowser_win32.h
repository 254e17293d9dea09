// The browser pane on Windows: the system's web browser control
// (IWebBrowser2) in-place in a child window, with a small site of our own
// and a sink for its DWebBrowserEvents2.
#pragma once

#include <windows.h>

#include <exdisp.h>

#include <functional>

namespace wendrix {

class BrowserSite;

class TWebBrowser {
 public:
  // The control's BeforeNavigate2 event with the arguments it arrives with;
  // setting *Cancel to VARIANT_TRUE stops the navigation.
  using BeforeNavigate2 =
      std::function<void(IDispatch* pDisp, VARIANT* URL, VARIANT* Flags, VARIANT* TargetFrameName,
                         VARIANT* PostData, VARIANT* Headers, VARIANT_BOOL* Cancel)>;

  // Window thread, OLE initialised. Creates the host window at bounds in
  // parent and the control in it; false (and an empty pane) when the system
  // has no browser control.
  bool Create(HWND parent, int id, RECT bounds, BeforeNavigate2 onBeforeNavigate2);

  // The address with the four optional arguments empty.
  void Navigate(const char* address);
  void Stop();

  HWND Window() const { return host_; }

 private:
  HWND host_ = nullptr;
  // Both live as long as the process: the control may hold the site.
  BrowserSite* site_ = nullptr;
  IWebBrowser2* browser_ = nullptr;
};

// The links filter's comparison: whether the first characters of address,
// as many as prefix has, equal prefix under CompareStringA with the user's
// default locale and no flags. A shorter address never does.
bool StartsWithPrefixA(const char* address, const char* prefix);

}  // namespace wendrix
