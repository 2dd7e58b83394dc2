#include "builder/headless_output_win.h"

#include "common/text.h"

namespace sv {

HeadlessOutput OpenHeadlessOutput(bool attachParentConsole) {
  HeadlessOutput out;
  HANDLE inherited = GetStdHandle(STD_OUTPUT_HANDLE);
  if (inherited && inherited != INVALID_HANDLE_VALUE && GetFileType(inherited) != FILE_TYPE_UNKNOWN) {
    out.handle = inherited;
  } else if (attachParentConsole && AttachConsole(ATTACH_PARENT_PROCESS)) {
    out.handle = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, 0, nullptr);
  }
  DWORD mode = 0;
  out.console = out.handle && out.handle != INVALID_HANDLE_VALUE && GetConsoleMode(out.handle, &mode);
  return out;
}

void PrintHeadlessLine(void* context, const std::wstring& line) {
  const HeadlessOutput& out = *static_cast<const HeadlessOutput*>(context);
  if (!out.handle || out.handle == INVALID_HANDLE_VALUE) return;
  const std::wstring text = line + L"\r\n";
  DWORD written = 0;
  if (out.console) {
    WriteConsoleW(out.handle, text.data(), DWORD(text.size()), &written, nullptr);
  } else {
    const std::string bytes = toUtf8(text);
    WriteFile(out.handle, bytes.data(), DWORD(bytes.size()), &written, nullptr);
  }
}

std::wstring TakePasswordFromEnvironment() {
  std::wstring value(4096, L'\0');
  const DWORD n = GetEnvironmentVariableW(L"SARVIK_SIGN_PASSWORD", value.data(), DWORD(value.size()));
  value.resize(n < value.size() ? n : 0);
  SetEnvironmentVariableW(L"SARVIK_SIGN_PASSWORD", nullptr);
  return value;
}

}  // namespace sv
