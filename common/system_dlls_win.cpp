#include "common/system_dlls.h"

#include <windows.h>
#include <delayimp.h>

#include <string>

namespace sv {

namespace {

// The delay-loaded DLLs (sv_delay_load in CMake), those others of them use first: each then finds
// the ones it loads in turn already in the process, where a system without
// SetDefaultDllDirectories would look for them beside the program first.
constexpr const char* kLoadOrder[] = {"bcrypt.dll", "crypt32.dll", "wintrust.dll",
                                       "winhttp.dll", "urlmon.dll", "gdiplus.dll"};

HMODULE LoadSystemDll(const char* name) {
  if (HMODULE loaded = GetModuleHandleA(name)) return loaded;
  wchar_t folder[MAX_PATH];
  const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  std::wstring path(folder, length);
  path += L'\\';
  for (const char* c = name; *c; ++c) path += wchar_t(static_cast<unsigned char>(*c));
  // A full path: the DLL's own dependencies are looked for in the system folder first too.
  return LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

FARPROC WINAPI LoadFromSystemFolder(unsigned notify, PDelayLoadInfo info) {
  if (notify != dliNotePreLoadLibrary || !info || !info->szDll) return nullptr;
  for (const char* name : kLoadOrder) {
    if (lstrcmpiA(name, info->szDll) == 0) break;
    LoadSystemDll(name);
  }
  HMODULE module = LoadSystemDll(info->szDll);
  // An invalid handle makes the helper fail the call rather than search the program's folder.
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
