#pragma once
// An embedded web page: the system's WebBrowser control in a host window of our own, with the
// project's own OLE site, so the page shows no borders, menus, context menu or error pages, and
// links that would open a new window go to the player's default browser instead.
//
// Window thread only, inside the single-threaded apartment the program starts with.
#include <cstdint>
#include <string>
#include <vector>

namespace sv {

constexpr wchar_t kWebHostClass[] = L"SarvikWebHost";

class WebView {
 public:
  class Site;  // the OLE container object (COM, reference counted)

  WebView() = default;
  ~WebView() { Destroy(); }
  WebView(const WebView&) = delete;
  WebView& operator=(const WebView&) = delete;

  // parent: an HWND. The rectangle is in the parent's client coordinates, or in screen
  // coordinates for a layered parent (the view is then an owned popup above it). Any failure
  // leaves nothing behind and returns false.
  bool Create(void* parent, bool layered, int x, int y, int width, int height);
  // Nothing happens for an empty URL or without a control.
  void Navigate(const std::wstring& url);
  void Move(int x, int y, int width, int height);
  // msg: a MSG*. Keyboard messages for the host window or its descendants go to the control
  // first; true when it consumed the message.
  bool TranslateAccelerator(const void* msg);
  void Destroy();

  void* HostWindow() const { return host_; }
  Site* GetSite() const { return site_; }

  // Host window procedure body (public for the trampoline).
  intptr_t HandleMessage(void* hwnd, unsigned message, uintptr_t wParam, intptr_t lParam);

 private:
  void OnSize();

  void* host_ = nullptr;  // HWND
  Site* site_ = nullptr;
};

// Enables or disables the host windows (a modal dialog is open while they are disabled).
void EnableWebViews(const std::vector<WebView*>& views, bool enabled);

}  // namespace sv
