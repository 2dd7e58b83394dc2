#pragma once
// One resource of a built patcher, read as a data file: its bytes, "<none>" when the patcher has
// no such resource, "<no module>" when it does not load.
#include <windows.h>

#include <string>

#include "common/scoped_win.h"

namespace sv::test {

inline std::string Resource(const std::wstring& path, WORD type, WORD id) {
  ScopedModule module(LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
  if (!module) return "<no module>";
  std::string data = "<none>";
  if (HRSRC found = FindResourceW(module.get(), MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(type))) {
    const void* bytes = LockResource(LoadResource(module.get(), found));
    data.assign(static_cast<const char*>(bytes), SizeofResource(module.get(), found));
  }
  return data;
}

}  // namespace sv::test
