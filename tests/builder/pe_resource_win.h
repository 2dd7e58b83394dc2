#pragma once
// One resource of a built patcher, read as a data file: its bytes, "<none>" when the patcher has
// no such resource, "<no module>" when it does not load.
#include <windows.h>

#include <string>

namespace sv::test {

inline std::string Resource(const std::wstring& path, WORD type, WORD id) {
  HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!module) return "<no module>";
  std::string data = "<none>";
  if (HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(type))) {
    const void* bytes = LockResource(LoadResource(module, found));
    data.assign(static_cast<const char*>(bytes), SizeofResource(module, found));
  }
  FreeLibrary(module);
  return data;
}

}  // namespace sv::test
