#include <windows.h>

#include <climits>

#include "common/system_message.h"
#include "common/text.h"

namespace sv {

namespace {

// The conversion functions take int lengths.
bool fitsInt(size_t n) { return n <= size_t(INT_MAX); }

}  // namespace

std::wstring toWide(std::string_view bytes, unsigned codePage) {
  if (bytes.empty() || !fitsInt(bytes.size())) return {};
  const int n = MultiByteToWideChar(codePage, 0, bytes.data(), int(bytes.size()), nullptr, 0);
  if (n <= 0) return {};
  std::wstring out(size_t(n), L'\0');
  if (MultiByteToWideChar(codePage, 0, bytes.data(), int(bytes.size()), out.data(), n) != n) return {};
  return out;
}

std::string toUtf8(std::wstring_view wide) {
  if (wide.empty() || !fitsInt(wide.size())) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string out(size_t(n), '\0');
  if (WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), out.data(), n, nullptr, nullptr) != n) {
    return {};
  }
  return out;
}

bool isValidUtf8(std::string_view bytes) {
  if (bytes.empty()) return true;
  if (!fitsInt(bytes.size())) return false;
  return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), int(bytes.size()), nullptr, 0) > 0;
}

std::wstring toLowerWide(std::wstring_view text) {
  std::wstring out(text);
  if (!out.empty()) CharLowerBuffW(out.data(), DWORD(out.size()));
  return out;
}

std::wstring rawSystemMessage(uint32_t code) {
  wchar_t* buffer = nullptr;
  const DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  const DWORD n = FormatMessageW(flags, nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring text;
  if (n > 0 && buffer) text.assign(buffer, n);
  if (buffer) LocalFree(buffer);
  return text;
}

}  // namespace sv
