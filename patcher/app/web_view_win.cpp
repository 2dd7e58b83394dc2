#include <windows.h>
#include <exdisp.h>
#include <exdispid.h>
#include <mshtmhst.h>
#include <ole2.h>
#include <olectl.h>
#include <shellapi.h>

#include "patcher/app/web_view.h"
#include "patcher/app/web_view_site_win.h"
#include "patcher/app/window_class_win.h"
#include "patcher/app/window_status.h"

namespace sv {

namespace {

void ShellOpen(const wchar_t* url) { ShellExecuteW(nullptr, L"open", url, nullptr, nullptr, SW_SHOWNORMAL); }

// A by-reference VARIANT_BOOL argument of an event, or null when the argument is something else.
VARIANT_BOOL* CancelArgument(DISPPARAMS* params, UINT index) {
  if (!params || index >= params->cArgs) return nullptr;
  VARIANT& v = params->rgvarg[index];
  return v.vt == (VT_BYREF | VT_BOOL) ? v.pboolVal : nullptr;
}

}  // namespace

WebView::Site::LinkOpener WebView::Site::linkOpener = ShellOpen;

// ---- the site -------------------------------------------------------------------------------

STDMETHODIMP WebView::Site::QueryInterface(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (riid == IID_IUnknown || riid == IID_IOleClientSite) {
    *object = static_cast<IOleClientSite*>(this);
  } else if (riid == IID_IOleWindow || riid == IID_IOleInPlaceSite) {
    *object = static_cast<IOleInPlaceSite*>(this);
  } else if (riid == IID_IOleInPlaceUIWindow || riid == IID_IOleInPlaceFrame) {
    *object = static_cast<IOleInPlaceFrame*>(this);
  } else if (riid == IID_IDocHostUIHandler) {
    *object = static_cast<IDocHostUIHandler*>(this);
  } else if (riid == IID_IDispatch || riid == DIID_DWebBrowserEvents2) {
    *object = static_cast<IDispatch*>(this);
  } else {
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) WebView::Site::AddRef() { return ULONG(InterlockedIncrement(&refs_)); }

STDMETHODIMP_(ULONG) WebView::Site::Release() {
  const LONG left = InterlockedDecrement(&refs_);
  if (left == 0) delete this;
  return ULONG(left);
}

STDMETHODIMP WebView::Site::GetContainer(IOleContainer** container) {
  if (container) *container = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP WebView::Site::GetWindow(HWND* window) {
  if (!window) return E_POINTER;
  *window = host_;
  return S_OK;
}

STDMETHODIMP WebView::Site::GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document,
                                             LPRECT position, LPRECT clip,
                                             LPOLEINPLACEFRAMEINFO info) {
  if (frame) {
    *frame = static_cast<IOleInPlaceFrame*>(this);
    AddRef();
  }
  if (document) *document = nullptr;
  RECT client{};
  GetClientRect(host_, &client);
  if (position) *position = client;
  if (clip) *clip = client;
  if (info) {
    info->cb = sizeof(OLEINPLACEFRAMEINFO);
    info->fMDIApp = FALSE;
    info->hwndFrame = host_;
    info->haccel = nullptr;
    info->cAccelEntries = 0;
  }
  return S_OK;
}

void WebView::Site::Resize(const RECT& rect) {
  if (!oleObject) return;
  IOleInPlaceObject* inPlace = nullptr;
  if (SUCCEEDED(oleObject->QueryInterface(IID_IOleInPlaceObject, reinterpret_cast<void**>(&inPlace)))) {
    inPlace->SetObjectRects(&rect, &rect);
    inPlace->Release();
  }
}

STDMETHODIMP WebView::Site::OnPosRectChange(LPCRECT rect) {
  if (rect) Resize(*rect);
  return S_OK;
}

STDMETHODIMP WebView::Site::GetHostInfo(DOCHOSTUIINFO* info) {
  if (!info) return E_POINTER;
  info->cbSize = sizeof(DOCHOSTUIINFO);
  info->dwFlags = kWebHostFlags;
  info->dwDoubleClick = DOCHOSTUIDBLCLK_DEFAULT;
  return S_OK;
}

STDMETHODIMP WebView::Site::GetOptionKeyPath(LPOLESTR* key, DWORD) {
  if (key) *key = nullptr;
  return S_FALSE;
}

STDMETHODIMP WebView::Site::GetExternal(IDispatch** external) {
  if (external) *external = nullptr;
  return S_FALSE;
}

STDMETHODIMP WebView::Site::TranslateUrl(DWORD, LPWSTR, LPWSTR* out) {
  if (out) *out = nullptr;
  return S_FALSE;
}

STDMETHODIMP WebView::Site::FilterDataObject(IDataObject*, IDataObject** out) {
  if (out) *out = nullptr;
  return S_FALSE;
}

STDMETHODIMP WebView::Site::GetTypeInfoCount(UINT* count) {
  if (count) *count = 0;
  return S_OK;
}

STDMETHODIMP WebView::Site::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*,
                                   EXCEPINFO*, UINT*) {
  // Arguments arrive last first: NewWindow3(ppDisp, Cancel, dwFlags, bstrUrlContext, bstrUrl),
  // NavigateError(pDisp, URL, Frame, StatusCode, Cancel).
  if (id == DISPID_NEWWINDOW3 && params && params->cArgs >= 5) {
    if (VARIANT_BOOL* cancel = CancelArgument(params, 3)) *cancel = VARIANT_TRUE;
    const VARIANT& url = params->rgvarg[0];
    if (url.vt == VT_BSTR && url.bstrVal && IsOpenableLink(url.bstrVal)) linkOpener(url.bstrVal);
  } else if (id == DISPID_NAVIGATEERROR && params && params->cArgs >= 5) {
    // No error page: the area stays blank.
    if (VARIANT_BOOL* cancel = CancelArgument(params, 0)) *cancel = VARIANT_TRUE;
  }
  return S_OK;
}

// ---- the view -------------------------------------------------------------------------------

bool WebView::Create(void* parent, bool layered, int x, int y, int width, int height) {
  Destroy();
  if (!RegisterClassOnce(kWebHostClass, ObjectWindowProc<WebView>, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)))) {
    return false;
  }
  const DWORD style = layered ? WS_POPUP | WS_CLIPCHILDREN : WS_CHILD | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
  HWND host = CreateWindowExW(layered ? WS_EX_TOOLWINDOW : 0, kWebHostClass, L"", style, x, y, width,
                              height, static_cast<HWND>(parent), nullptr, GetModuleHandleW(nullptr), this);
  if (!host) return false;
  host_ = host;
  site_ = new Site(host);

  RECT client{};
  GetClientRect(host, &client);
  IOleObject* ole = nullptr;
  if (SUCCEEDED(CoCreateInstance(CLSID_WebBrowser, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER,
                                 IID_IOleObject, reinterpret_cast<void**>(&ole)))) {
    site_->oleObject = ole;
    ole->SetClientSite(static_cast<IOleClientSite*>(site_));
    OleSetContainedObject(ole, TRUE);
    ole->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, static_cast<IOleClientSite*>(site_), 0, host, &client);
    IWebBrowser2* browser = nullptr;
    if (SUCCEEDED(ole->QueryInterface(IID_IWebBrowser2, reinterpret_cast<void**>(&browser)))) {
      site_->browser = browser;
      browser->put_Silent(VARIANT_TRUE);                // no script error boxes
      browser->put_RegisterAsDropTarget(VARIANT_FALSE);  // a dropped file must not navigate
      IConnectionPointContainer* container = nullptr;
      if (SUCCEEDED(browser->QueryInterface(IID_IConnectionPointContainer,
                                            reinterpret_cast<void**>(&container)))) {
        IConnectionPoint* events = nullptr;
        if (SUCCEEDED(container->FindConnectionPoint(DIID_DWebBrowserEvents2, &events))) {
          if (SUCCEEDED(events->Advise(static_cast<IDispatch*>(site_), &site_->cookie))) {
            site_->events = events;
          } else {
            events->Release();
          }
        }
        container->Release();
      }
    }
  }
  if (!site_->oleObject || !site_->browser) {
    Destroy();
    return false;
  }
  ShowWindow(host, SW_SHOWNOACTIVATE);
  return true;
}

intptr_t WebView::HandleMessage(void* hwnd, unsigned message, uintptr_t wParam, intptr_t lParam) {
  switch (message) {
    case WM_SIZE:
      OnSize();
      return 0;
    case WM_ERASEBKGND:  // the page paints the whole area
      return 1;
    default:
      return DefWindowProcW(static_cast<HWND>(hwnd), message, wParam, lParam);
  }
}

void WebView::OnSize() {
  if (!site_ || !host_) return;
  RECT client{};
  GetClientRect(static_cast<HWND>(host_), &client);
  site_->OnPosRectChange(&client);
}

void WebView::Navigate(const std::wstring& url) {
  if (url.empty() || !site_ || !site_->browser) return;
  BSTR address = SysAllocString(url.c_str());
  if (!address) return;
  VARIANT empty;
  VariantInit(&empty);
  site_->browser->Navigate(address, &empty, &empty, &empty, &empty);
  SysFreeString(address);
}

void WebView::Move(int x, int y, int width, int height) {
  if (host_) SetWindowPos(static_cast<HWND>(host_), nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

bool WebView::TranslateAccelerator(const void* message) {
  const MSG* msg = static_cast<const MSG*>(message);
  if (!msg || !site_ || !site_->browser || msg->message < WM_KEYFIRST || msg->message > WM_KEYLAST) return false;
  HWND host = static_cast<HWND>(host_);
  if (msg->hwnd != host && !IsChild(host, msg->hwnd)) return false;
  IOleInPlaceActiveObject* active = nullptr;
  if (FAILED(site_->browser->QueryInterface(IID_IOleInPlaceActiveObject, reinterpret_cast<void**>(&active)))) {
    return false;
  }
  const bool consumed = active->TranslateAccelerator(const_cast<MSG*>(msg)) == S_OK;
  active->Release();
  return consumed;
}

void WebView::Destroy() {
  if (site_) {
    Site* site = site_;
    site_ = nullptr;
    if (site->events) {
      site->events->Unadvise(site->cookie);
      site->events->Release();
      site->events = nullptr;
    }
    if (site->browser) {
      // A page still loading ends with its view instead of streaming on into the control's
      // cache. (Wine's control ignores Stop: there the load ends with the process.)
      site->browser->Stop();
      site->browser->Release();
      site->browser = nullptr;
    }
    if (site->oleObject) {
      site->oleObject->Close(OLECLOSE_NOSAVE);
      site->oleObject->SetClientSite(nullptr);
      site->oleObject->Release();
      site->oleObject = nullptr;
    }
    site->Release();
  }
  if (host_) {
    DestroyWindow(static_cast<HWND>(host_));
    host_ = nullptr;
  }
}

void EnableWebViews(const std::vector<WebView*>& views, bool enabled) {
  for (WebView* view : views) {
    if (view && view->HostWindow()) EnableWindow(static_cast<HWND>(view->HostWindow()), enabled);
  }
}

}  // namespace sv
