#include "ui/WebBrowser_win32.h"

#include <exdispid.h>
#include <ole2.h>

#include <cstring>
#include <utility>

namespace wendrix {

// COM interfaces have no virtual destructor; the site is never deleted.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
// The control's container: client site, in-place site and frame, and the
// DWebBrowserEvents2 sink (a plain IDispatch). It is never freed; its
// reference count only answers the control.
class BrowserSite final : public IOleClientSite,
                          public IOleInPlaceSite,
                          public IOleInPlaceFrame,
                          public IDispatch {
 public:
  BrowserSite(HWND host, TWebBrowser::BeforeNavigate2 onBeforeNavigate2)
      : host_(host), onBeforeNavigate2_(std::move(onBeforeNavigate2)) {}

  IOleObject* object = nullptr;

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IOleClientSite)
      *out = static_cast<IOleClientSite*>(this);
    else if (riid == IID_IOleWindow || riid == IID_IOleInPlaceSite)
      *out = static_cast<IOleInPlaceSite*>(this);
    else if (riid == IID_IOleInPlaceUIWindow || riid == IID_IOleInPlaceFrame)
      *out = static_cast<IOleInPlaceFrame*>(this);
    else if (riid == IID_IDispatch || riid == DIID_DWebBrowserEvents2)
      *out = static_cast<IDispatch*>(this);
    else {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
  STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(InterlockedDecrement(&refs_)); }

  // IOleClientSite
  STDMETHODIMP SaveObject() override { return E_NOTIMPL; }
  STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP GetContainer(IOleContainer** out) override {
    if (out) *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP ShowObject() override { return S_OK; }
  STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
  STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }

  // IOleWindow (shared by the in-place site and the frame)
  STDMETHODIMP GetWindow(HWND* out) override {
    if (!out) return E_POINTER;
    *out = host_;
    return S_OK;
  }
  STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

  // IOleInPlaceSite
  STDMETHODIMP CanInPlaceActivate() override { return S_OK; }
  STDMETHODIMP OnInPlaceActivate() override { return S_OK; }
  STDMETHODIMP OnUIActivate() override { return S_OK; }
  STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document, LPRECT position,
                                LPRECT clip, LPOLEINPLACEFRAMEINFO info) override {
    if (frame) {
      *frame = this;
      AddRef();
    }
    if (document) *document = nullptr;
    RECT client{};
    ::GetClientRect(host_, &client);
    if (position) *position = client;
    if (clip) *clip = client;
    if (info) {
      info->fMDIApp = FALSE;
      info->hwndFrame = ::GetAncestor(host_, GA_ROOT);
      info->haccel = nullptr;
      info->cAccelEntries = 0;
    }
    return S_OK;
  }
  STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
  STDMETHODIMP OnUIDeactivate(BOOL) override { return S_OK; }
  STDMETHODIMP OnInPlaceDeactivate() override { return S_OK; }
  STDMETHODIMP DiscardUndoState() override { return E_NOTIMPL; }
  STDMETHODIMP DeactivateAndUndo() override { return E_NOTIMPL; }
  STDMETHODIMP OnPosRectChange(LPCRECT rect) override {
    IOleInPlaceObject* inPlace = nullptr;
    if (rect && object &&
        SUCCEEDED(object->QueryInterface(IID_IOleInPlaceObject, reinterpret_cast<void**>(&inPlace)))) {
      inPlace->SetObjectRects(rect, rect);
      inPlace->Release();
    }
    return S_OK;
  }

  // IOleInPlaceUIWindow
  STDMETHODIMP GetBorder(LPRECT) override { return E_NOTIMPL; }
  STDMETHODIMP RequestBorderSpace(LPCBORDERWIDTHS) override { return E_NOTIMPL; }
  STDMETHODIMP SetBorderSpace(LPCBORDERWIDTHS) override { return E_NOTIMPL; }
  STDMETHODIMP SetActiveObject(IOleInPlaceActiveObject*, LPCOLESTR) override { return S_OK; }

  // IOleInPlaceFrame
  STDMETHODIMP InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return E_NOTIMPL; }
  STDMETHODIMP SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
  STDMETHODIMP RemoveMenus(HMENU) override { return E_NOTIMPL; }
  STDMETHODIMP SetStatusText(LPCOLESTR) override { return S_OK; }
  STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }
  STDMETHODIMP TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

  // IDispatch: the DWebBrowserEvents2 sink
  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    if (count) *count = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                      UINT*) override {
    if (id != DISPID_BEFORENAVIGATE2 || !params || params->cArgs != 7 || !onBeforeNavigate2_) return S_OK;
    // The arguments arrive last first.
    VARIANTARG* a = params->rgvarg;
    if (a[0].vt != (VT_BYREF | VT_BOOL)) return S_OK;
    IDispatch* pDisp = a[6].vt == VT_DISPATCH ? a[6].pdispVal : nullptr;
    onBeforeNavigate2_(pDisp, &a[5], &a[4], &a[3], &a[2], &a[1], a[0].pboolVal);
    return S_OK;
  }

 private:
  HWND host_;
  TWebBrowser::BeforeNavigate2 onBeforeNavigate2_;
  LONG refs_ = 1;
};
#pragma GCC diagnostic pop

namespace {

constexpr wchar_t kHostClass[] = L"Wendrix.WebBrowserHost";

// The pane's window: it keeps the control sized to itself.
LRESULT CALLBACK HostProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_SIZE) {
    auto* site = reinterpret_cast<BrowserSite*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    RECT rect{0, 0, LOWORD(lParam), HIWORD(lParam)};
    if (site) site->OnPosRectChange(&rect);
    return 0;
  }
  return ::DefWindowProcW(window, message, wParam, lParam);
}

void RegisterHostClass() {
  WNDCLASSW wc{};
  wc.lpfnWndProc = &HostProc;
  wc.hInstance = ::GetModuleHandleW(nullptr);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = kHostClass;
  ::RegisterClassW(&wc);  // fails harmlessly when already registered
}

}  // namespace

bool TWebBrowser::Create(HWND parent, int id, RECT bounds, BeforeNavigate2 onBeforeNavigate2) {
  RegisterHostClass();
  host_ = ::CreateWindowExW(0, kHostClass, L"", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, bounds.left,
                            bounds.top, bounds.right - bounds.left, bounds.bottom - bounds.top, parent,
                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ::GetModuleHandleW(nullptr),
                            nullptr);
  if (!host_) return false;
  site_ = new BrowserSite(host_, std::move(onBeforeNavigate2));

  IOleObject* object = nullptr;
  if (FAILED(::CoCreateInstance(CLSID_WebBrowser, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject,
                                reinterpret_cast<void**>(&object))))
    return false;
  site_->object = object;
  object->SetClientSite(site_);
  ::OleSetContainedObject(object, TRUE);
  RECT client{};
  ::GetClientRect(host_, &client);
  object->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, site_, 0, host_, &client);

  if (FAILED(object->QueryInterface(IID_IWebBrowser2, reinterpret_cast<void**>(&browser_)))) {
    browser_ = nullptr;
    return false;
  }
  IConnectionPointContainer* container = nullptr;
  if (SUCCEEDED(
          object->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container)))) {
    IConnectionPoint* point = nullptr;
    if (SUCCEEDED(container->FindConnectionPoint(DIID_DWebBrowserEvents2, &point))) {
      DWORD cookie = 0;
      point->Advise(static_cast<IDispatch*>(site_), &cookie);
      point->Release();
    }
    container->Release();
  }
  ::SetWindowLongPtrW(host_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(site_));
  return true;
}

void TWebBrowser::Navigate(const char* address) {
  if (!browser_) return;
  const int n = ::MultiByteToWideChar(CP_ACP, 0, address, -1, nullptr, 0);
  if (n <= 0) return;
  BSTR url = ::SysAllocStringLen(nullptr, static_cast<UINT>(n - 1));
  if (!url) return;
  ::MultiByteToWideChar(CP_ACP, 0, address, -1, url, n);
  VARIANT flags, targetFrameName, postData, headers;
  ::VariantInit(&flags);
  ::VariantInit(&targetFrameName);
  ::VariantInit(&postData);
  ::VariantInit(&headers);
  browser_->Navigate(url, &flags, &targetFrameName, &postData, &headers);
  ::SysFreeString(url);
}

void TWebBrowser::Stop() {
  if (browser_) browser_->Stop();
}

bool StartsWithPrefixA(const char* address, const char* prefix) {
  const size_t n = std::strlen(prefix);
  if (std::strlen(address) < n) return false;
  return ::CompareStringA(LOCALE_USER_DEFAULT, 0, address, static_cast<int>(n), prefix,
                          static_cast<int>(n)) == CSTR_EQUAL;
}

}  // namespace wendrix
