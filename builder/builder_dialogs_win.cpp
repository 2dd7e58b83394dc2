// The builder's standard dialogs, the clipboard and the PNG encoder: thin calls into Windows.
#include "builder/builder_window_win.h"

#include <commdlg.h>
#include <shlobj.h>

#include <vector>
#include "skin/gdiplus_api.h"

namespace sv {

namespace {

// Filters are pairs of display text and pattern, each ending in a zero, the list in two.
std::wstring Filter(std::initializer_list<std::pair<const wchar_t*, const wchar_t*>> pairs) {
  std::wstring out;
  for (const auto& [text, pattern] : pairs) {
    out += text;
    out += L'\0';
    out += pattern;
    out += L'\0';
  }
  out += L'\0';
  return out;
}

std::wstring AskFile(HWND owner, const wchar_t* title, const std::wstring& filter, bool save,
                     const std::wstring& initialName = {}, const wchar_t* defaultExt = nullptr) {
  std::vector<wchar_t> buffer(32768, L'\0');
  initialName.copy(buffer.data(), std::min(initialName.size(), buffer.size() - 1));
  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = owner;
  ofn.lpstrFilter = filter.c_str();
  ofn.lpstrFile = buffer.data();
  ofn.nMaxFile = DWORD(buffer.size());
  ofn.lpstrTitle = title;
  ofn.lpstrDefExt = defaultExt;
  ofn.Flags = OFN_EXPLORER | OFN_NOCHANGEDIR | OFN_HIDEREADONLY |
              (save ? OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST : OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST);
  const BOOL ok = save ? GetSaveFileNameW(&ofn) : GetOpenFileNameW(&ofn);
  return ok ? std::wstring(buffer.data()) : std::wstring();
}

}  // namespace

std::wstring AskSkinZip(HWND owner) {
  return AskFile(owner, L"Skin .zip dosyası seçin",
                 Filter({{L"Skin paketi (*.zip)", L"*.zip"}, {L"Tüm dosyalar (*.*)", L"*.*"}}), false);
}

std::wstring AskSkinFolder(HWND owner) {
  BROWSEINFOW info{};
  info.hwndOwner = owner;
  info.lpszTitle = L"Skin klasörünü seçin";
  info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
  PIDLIST_ABSOLUTE item = SHBrowseForFolderW(&info);
  if (!item) return {};
  wchar_t path[MAX_PATH] = {};
  const BOOL ok = SHGetPathFromIDListW(item, path);
  CoTaskMemFree(item);
  return ok ? std::wstring(path) : std::wstring();
}

std::wstring AskIcon(HWND owner) {
  return AskFile(owner, L"Simge seçin",
                 Filter({{L"Simge ve görsel (*.ico;*.png;*.jpg;*.bmp)", L"*.ico;*.png;*.jpg;*.jpeg;*.bmp"},
                         {L"Tüm dosyalar (*.*)", L"*.*"}}),
                 false);
}

std::wstring AskOutput(HWND owner, const std::wstring& initialName) {
  return AskFile(owner, L"Patcher exe'sinin kaydedileceği yer", Filter({{L"Program (*.exe)", L"*.exe"}}), true,
                 initialName, L"exe");
}

std::wstring AskCertificate(HWND owner) {
  return AskFile(owner, L"Kod imzalama sertifikası",
                 Filter({{L"Sertifika (*.pfx;*.p12)", L"*.pfx;*.p12"}, {L"Tüm dosyalar (*.*)", L"*.*"}}), false);
}

std::wstring AskReleaseKey(HWND owner) {
  return AskFile(owner, L"Sürüm anahtarı (açık anahtar)",
                 Filter({{L"Açık anahtar (*.pub;*.pem)", L"*.pub;*.pem"}, {L"Tüm dosyalar (*.*)", L"*.*"}}), false);
}

bool PutClipboardText(HWND owner, const std::wstring& text) {
  if (!OpenClipboard(owner)) return false;
  EmptyClipboard();
  const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
  bool ok = false;
  if (memory) {
    if (void* p = GlobalLock(memory)) {
      memcpy(p, text.c_str(), bytes);
      GlobalUnlock(memory);
      ok = SetClipboardData(CF_UNICODETEXT, memory) != nullptr;
    }
    if (!ok) GlobalFree(memory);  // the clipboard owns it only after a successful set
  }
  CloseClipboard();
  return ok;
}

bool SaveBitmapPng(HBITMAP bitmap, const std::wstring& path) {
  using namespace gdip;
  UINT count = 0, size = 0;
  if (GdipGetImageEncodersSize(&count, &size) != Ok || size == 0) return false;
  std::vector<BYTE> buffer(size);
  auto* encoders = reinterpret_cast<ImageCodecInfo*>(buffer.data());
  if (GdipGetImageEncoders(count, size, encoders) != Ok) return false;
  const CLSID* png = nullptr;
  for (UINT i = 0; i < count; ++i) {
    if (encoders[i].MimeType && wcscmp(encoders[i].MimeType, L"image/png") == 0) png = &encoders[i].Clsid;
  }
  if (!png) return false;
  GpBitmap* image = nullptr;
  if (GdipCreateBitmapFromHBITMAP(bitmap, nullptr, &image) != Ok) return false;
  const bool ok = GdipSaveImageToFile(image, path.c_str(), png, nullptr) == Ok;
  GdipDisposeImage(image);
  return ok;
}

}  // namespace sv
