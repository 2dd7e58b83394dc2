#include "common/system_dlls.h"

#include <windows.h>
#include <delayimp.h>

#include <string>

namespace sv {

namespace {

FARPROC WINAPI LoadFromSystemFolder(unsigned notify, PDelayLoadInfo info) {
  if (notify != dliNotePreLoadLibrary || !info || !info->szDll) return nullptr;
  wchar_t folder[MAX_PATH];
  const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  std::wstring path(folder, length);
  path += L'\\';
  for (const char* c = info->szDll; *c; ++c) path += wchar_t(static_cast<unsigned char>(*c));
  // A full path: the DLL's own dependencies are looked for in the system folder too.
  HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  // Null makes the helper fail the call rather than search the program's folder.
  return reinterpret_cast<FARPROC>(module ? module : INVALID_HANDLE_VALUE);
}

}  // namespace

void LoadSystemDllsFromSystemFolderOnly() {
  // Windows 7 has it only with KB2533623; the hook above does not depend on it.
  using SetDirectories = BOOL(WINAPI*)(DWORD);
  if (auto set = reinterpret_cast<SetDirectories>(reinterpret_cast<void*>(
          GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")))) {
    set(LOAD_LIBRARY_SEARCH_SYSTEM32);
  }
  SetDllDirectoryW(L"");
  __pfnDliNotifyHook2 = LoadFromSystemFolder;
}

}  // namespace sv
