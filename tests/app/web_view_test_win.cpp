// The web view's hosting under Wine: the WebBrowser control is created in our host window and
// follows its size, and the OLE site answers as a container should. Wine has no HTML engine
// here, so pages stay blank and the control never raises its events by itself: the event cases
// call the site's sink with the arguments the control passes.
#include <windows.h>
#include <exdispid.h>
#include <ole2.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "patcher/app/browser_emulation.h"
#include "patcher/app/web_view.h"
#include "patcher/app/web_view_site_win.h"

namespace {

using sv::WebView;

class WebViewTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { OleInitialize(nullptr); }
  static void TearDownTestSuite() { OleUninitialize(); }

  void SetUp() override {
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"WebViewTestParent";
    RegisterClassW(&wc);
    parent = CreateWindowExW(0, wc.lpszClassName, L"parent", WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN, 50, 40,
                             500, 400, nullptr, nullptr, wc.hInstance, nullptr);
    ASSERT_NE(parent, nullptr);
  }
  void TearDown() override { DestroyWindow(parent); }

  static RECT RectIn(HWND window, HWND reference) {
    RECT r{};
    GetWindowRect(window, &r);
    MapWindowPoints(nullptr, reference, reinterpret_cast<POINT*>(&r), 2);
    return r;
  }
  static void Pump() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
  }

  HWND parent = nullptr;
};

TEST_F(WebViewTest, TheControlLivesInAHostWindowOfItsSize) {
  WebView view;
  ASSERT_TRUE(view.Create(parent, false, 10, 20, 300, 200));
  HWND host = static_cast<HWND>(view.HostWindow());
  ASSERT_TRUE(IsWindow(host));
  wchar_t cls[64] = {};
  GetClassNameW(host, cls, 64);
  EXPECT_STREQ(cls, sv::kWebHostClass);
  EXPECT_EQ(GetParent(host), parent);
  EXPECT_TRUE(GetWindowLongW(host, GWL_STYLE) & WS_CHILD);
  EXPECT_TRUE(IsWindowVisible(host));
  RECT r = RectIn(host, parent);
  EXPECT_EQ(r.left, 10);
  EXPECT_EQ(r.top, 20);
  EXPECT_EQ(r.right - r.left, 300);
  EXPECT_EQ(r.bottom - r.top, 200);
  ASSERT_NE(view.GetSite(), nullptr);
  EXPECT_NE(view.GetSite()->browser, nullptr);
  EXPECT_NE(view.GetSite()->events, nullptr);  // our sink is advised

  // The control's own window sits in the host and follows its size.
  HWND control = GetWindow(host, GW_CHILD);
  ASSERT_NE(control, nullptr);
  view.Move(30, 40, 320, 150);
  Pump();
  r = RectIn(host, parent);
  EXPECT_EQ(r.left, 30);
  EXPECT_EQ(r.bottom - r.top, 150);
  RECT c{};
  GetWindowRect(control, &c);
  EXPECT_EQ(c.right - c.left, 320);
  EXPECT_EQ(c.bottom - c.top, 150);

  view.Navigate(L"http://127.0.0.1:9/");  // nothing listens there: no error page, no crash
  view.Navigate(L"");
  Pump();
  view.Destroy();
  EXPECT_FALSE(IsWindow(host));
  EXPECT_EQ(view.HostWindow(), nullptr);
  view.Navigate(L"http://127.0.0.1:9/");  // after Destroy: nothing happens
}

TEST_F(WebViewTest, OverALayeredWindowTheViewIsAnOwnedToolPopup) {
  WebView view;
  ASSERT_TRUE(view.Create(parent, true, 60, 70, 200, 100));  // screen coordinates
  HWND host = static_cast<HWND>(view.HostWindow());
  EXPECT_TRUE(GetWindowLongW(host, GWL_STYLE) & WS_POPUP);
  EXPECT_TRUE(GetWindowLongW(host, GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
  EXPECT_EQ(GetWindow(host, GW_OWNER), parent);
  RECT r{};
  GetWindowRect(host, &r);
  EXPECT_EQ(r.left, 60);
  EXPECT_EQ(r.top, 70);
  // Disabled while a dialog is open.
  sv::EnableWebViews({&view}, false);
  EXPECT_FALSE(IsWindowEnabled(host));
  sv::EnableWebViews({&view}, true);
  EXPECT_TRUE(IsWindowEnabled(host));
}

TEST_F(WebViewTest, KeysForOtherWindowsAreNotOffered) {
  WebView view;
  ASSERT_TRUE(view.Create(parent, false, 0, 0, 100, 100));
  MSG msg{};
  msg.hwnd = parent;
  msg.message = WM_KEYDOWN;
  msg.wParam = VK_TAB;
  EXPECT_FALSE(view.TranslateAccelerator(&msg));
  msg.hwnd = static_cast<HWND>(view.HostWindow());
  msg.message = WM_MOUSEMOVE;
  EXPECT_FALSE(view.TranslateAccelerator(&msg));
}

// A site on its own, as the control sees it.
class SiteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 120, 80, nullptr, nullptr, nullptr, nullptr);
    site = new WebView::Site(host);
    opened.clear();
    saved = WebView::Site::linkOpener;
    WebView::Site::linkOpener = [](const wchar_t* url) { opened.push_back(url); };
  }
  void TearDown() override {
    WebView::Site::linkOpener = saved;
    EXPECT_EQ(site->Release(), 0u);  // the count the site started with is the last one
    DestroyWindow(host);
  }

  // Invokes an event with the arguments last first, as IDispatch passes them.
  void Fire(DISPID id, std::vector<VARIANT> argsLastFirst) {
    DISPPARAMS params{};
    params.rgvarg = argsLastFirst.data();
    params.cArgs = UINT(argsLastFirst.size());
    EXPECT_EQ(static_cast<IDispatch*>(site)->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr,
                                                    nullptr),
              S_OK);
    last = std::move(argsLastFirst);
  }
  // The arguments of the last event as the site left them.
  const std::vector<VARIANT>& LastArgs() const { return last; }
  static VARIANT Bstr(BSTR value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = value;
    return v;
  }
  static VARIANT BoolRef(VARIANT_BOOL* value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BYREF | VT_BOOL;
    v.pboolVal = value;
    return v;
  }
  static VARIANT Empty() {
    VARIANT v;
    VariantInit(&v);
    return v;
  }
  // NewWindow3(ppDisp, Cancel, dwFlags, bstrUrlContext, bstrUrl).
  VARIANT_BOOL NewWindow(const wchar_t* url) {
    VARIANT_BOOL cancel = VARIANT_FALSE;
    BSTR target = SysAllocString(url);
    BSTR context = SysAllocString(L"https://haber.example/");
    Fire(DISPID_NEWWINDOW3, {Bstr(target), Bstr(context), Empty(), BoolRef(&cancel), Empty()});
    SysFreeString(target);
    SysFreeString(context);
    return cancel;
  }

  HWND host = nullptr;
  WebView::Site* site = nullptr;
  std::vector<VARIANT> last;
  WebView::Site::LinkOpener saved = nullptr;
  static std::vector<std::wstring> opened;
};

std::vector<std::wstring> SiteTest::opened;

TEST_F(SiteTest, FiveInterfacesOneIdentityOneCount) {
  const IID* iids[] = {&IID_IOleClientSite, &IID_IOleInPlaceSite, &IID_IOleInPlaceFrame, &IID_IDocHostUIHandler,
                       &IID_IDispatch, &IID_IOleWindow, &IID_IOleInPlaceUIWindow, &DIID_DWebBrowserEvents2};
  IUnknown* identity = nullptr;
  ASSERT_EQ(site->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
  ULONG expected = 2;
  for (const IID* iid : iids) {
    IUnknown* p = nullptr;
    ASSERT_EQ(site->QueryInterface(*iid, reinterpret_cast<void**>(&p)), S_OK);
    ++expected;
    IUnknown* back = nullptr;
    ASSERT_EQ(p->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&back)), S_OK);
    EXPECT_EQ(back, identity);  // every interface leads back to the same object
    back->Release();
    EXPECT_EQ(p->AddRef(), expected + 1);  // one count whichever interface is used
    p->Release();
  }
  void* none = reinterpret_cast<void*>(1);
  EXPECT_EQ(site->QueryInterface(IID_IStream, &none), E_NOINTERFACE);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(site->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
  // Give every reference back but the one the site started with.
  for (ULONG i = 1; i < expected; ++i) identity->Release();
}

TEST_F(SiteTest, ContainerAnswers) {
  HWND window = nullptr;
  EXPECT_EQ(static_cast<IOleInPlaceSite*>(site)->GetWindow(&window), S_OK);
  EXPECT_EQ(window, host);
  window = nullptr;
  EXPECT_EQ(static_cast<IOleInPlaceFrame*>(site)->GetWindow(&window), S_OK);
  EXPECT_EQ(window, host);
  IOleContainer* container = reinterpret_cast<IOleContainer*>(1);
  EXPECT_EQ(site->GetContainer(&container), E_NOINTERFACE);
  EXPECT_EQ(container, nullptr);
  EXPECT_EQ(site->SaveObject(), E_NOTIMPL);
  EXPECT_EQ(site->GetBorder(nullptr), E_NOTIMPL);
  EXPECT_EQ(site->InsertMenus(nullptr, nullptr), E_NOTIMPL);

  IOleInPlaceFrame* frame = nullptr;
  IOleInPlaceUIWindow* document = reinterpret_cast<IOleInPlaceUIWindow*>(1);
  RECT position{}, clip{};
  OLEINPLACEFRAMEINFO info{};
  ASSERT_EQ(site->GetWindowContext(&frame, &document, &position, &clip, &info), S_OK);
  EXPECT_EQ(frame, static_cast<IOleInPlaceFrame*>(site));
  EXPECT_EQ(document, nullptr);
  EXPECT_EQ(position.right, 120);
  EXPECT_EQ(clip.bottom, 80);
  EXPECT_EQ(info.cAccelEntries, 0u);
  EXPECT_EQ(info.haccel, nullptr);
  frame->Release();

  DOCHOSTUIINFO ui{};
  ui.cbSize = sizeof(ui);
  ASSERT_EQ(site->GetHostInfo(&ui), S_OK);
  EXPECT_EQ(ui.dwFlags, 0x00240006u);  // no help menu, no borders, themed
  EXPECT_EQ(ui.dwDoubleClick, DWORD(DOCHOSTUIDBLCLK_DEFAULT));
  EXPECT_EQ(site->GetHostInfo(nullptr), E_POINTER);
  EXPECT_EQ(site->ShowContextMenu(0, nullptr, nullptr, nullptr), S_OK);  // no context menu
  EXPECT_EQ(static_cast<IDocHostUIHandler*>(site)->TranslateAccelerator(nullptr, nullptr, 0), S_FALSE);
  EXPECT_EQ(site->GetDropTarget(nullptr, nullptr), E_NOTIMPL);
  IDispatch* external = reinterpret_cast<IDispatch*>(1);
  EXPECT_EQ(site->GetExternal(&external), S_FALSE);
  EXPECT_EQ(external, nullptr);
  UINT count = 7;
  EXPECT_EQ(site->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 0u);
}

TEST_F(SiteTest, NewWindowsGoToTheBrowserOnlyForWebAddresses) {
  EXPECT_EQ(NewWindow(L"https://haber.example/yama"), VARIANT_TRUE);
  EXPECT_EQ(NewWindow(L"HTTP://haber.example/"), VARIANT_TRUE);
  EXPECT_EQ(NewWindow(L"mailto:destek@haber.example"), VARIANT_TRUE);  // dropped
  EXPECT_EQ(NewWindow(L"file:///C:/Windows/win.ini"), VARIANT_TRUE);  // dropped
  ASSERT_EQ(opened.size(), 2u);
  EXPECT_EQ(opened[0], L"https://haber.example/yama");
  EXPECT_EQ(opened[1], L"HTTP://haber.example/");

  // Too few arguments, or a URL that is not a string: nothing is touched.
  VARIANT_BOOL cancel = VARIANT_FALSE;
  Fire(DISPID_NEWWINDOW3, {Empty(), BoolRef(&cancel)});
  EXPECT_EQ(cancel, VARIANT_FALSE);
  Fire(DISPID_NEWWINDOW3, {Empty(), Empty(), Empty(), BoolRef(&cancel), Empty()});
  EXPECT_EQ(cancel, VARIANT_TRUE);
  EXPECT_EQ(opened.size(), 2u);
}

TEST_F(SiteTest, NavigationErrorsAreCancelled) {
  // NavigateError(pDisp, URL, Frame, StatusCode, Cancel).
  VARIANT_BOOL cancel = VARIANT_FALSE;
  Fire(DISPID_NAVIGATEERROR, {BoolRef(&cancel), Empty(), Empty(), Empty(), Empty()});
  EXPECT_EQ(cancel, VARIANT_TRUE);  // no error page: the area stays blank
  // An argument of another type in the Cancel place is left alone: neither a number passed by
  // reference (writing VARIANT_TRUE through it would change the number) nor a VARIANT_BOOL
  // passed by value (a copy: setting it cancels nothing and would hide the mistake).
  LONG number = 5;
  VARIANT byRef;
  VariantInit(&byRef);
  byRef.vt = VT_BYREF | VT_I4;
  byRef.plVal = &number;
  Fire(DISPID_NAVIGATEERROR, {byRef, Empty(), Empty(), Empty(), Empty()});
  EXPECT_EQ(number, 5);
  VARIANT byValue;
  VariantInit(&byValue);
  byValue.vt = VT_BOOL;
  byValue.boolVal = VARIANT_FALSE;
  Fire(DISPID_NAVIGATEERROR, {byValue, Empty(), Empty(), Empty(), Empty()});
  // Fire hands the arguments over as they are: what it got back is what the site left.
  EXPECT_EQ(LastArgs()[0].vt, VT_BOOL);
  EXPECT_EQ(LastArgs()[0].boolVal, VARIANT_FALSE);
  // Other events are ignored.
  cancel = VARIANT_FALSE;
  Fire(DISPID_BEFORENAVIGATE2, {BoolRef(&cancel), Empty(), Empty(), Empty(), Empty(), Empty(), Empty()});
  EXPECT_EQ(cancel, VARIANT_FALSE);
  EXPECT_TRUE(opened.empty());
}

TEST(BrowserEmulationOnce, ASecondStartFindsTheValueAndWritesNothing) {
  const wchar_t* keyPath =
      L"Software\\Microsoft\\Internet Explorer\\Main\\FeatureControl\\FEATURE_BROWSER_EMULATION";
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, keyPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const DWORD stale = 7000;  // another value is replaced
  RegSetValueExW(key, L"app_tests.exe", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&stale), sizeof(stale));
  auto lastWrite = [&] {
    FILETIME t{};
    RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                     nullptr, &t);
    return (uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime;
  };
  auto value = [&] {
    DWORD v = 0, size = sizeof(v);
    RegQueryValueExW(key, L"app_tests.exe", nullptr, nullptr, reinterpret_cast<BYTE*>(&v), &size);
    return v;
  };
  const uint64_t staleWrite = lastWrite();
  Sleep(50);
  sv::SetBrowserEmulation();
  const DWORD written = value();
  EXPECT_TRUE(written == 11001 || written == 10001 || written == 9999 || written == 8888) << written;
  const uint64_t first = lastWrite();
  EXPECT_GT(first, staleWrite);  // a write moves the key's time, so the check below means something
  Sleep(50);
  sv::SetBrowserEmulation();
  EXPECT_EQ(value(), written);
  EXPECT_EQ(lastWrite(), first);  // the key was not written again
  RegDeleteValueW(key, L"app_tests.exe");
  RegCloseKey(key);
}

}  // namespace
