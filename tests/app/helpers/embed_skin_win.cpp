// Writes a skin package into a patcher's resources, the way the builder stores it, so the tests
// can start a patcher that has a skin.
//
//   embed_skin <patcher.exe> <skin folder>          package of the folder's files
//   embed_skin <patcher.exe> --raw <package file>   the file's bytes as they are (broken packages)
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "common/file.h"
#include "patcher/app/resource_ids.h"
#include "skin/skin_package.h"

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: embed_skin <exe> <skin folder> | <exe> --raw <package file>\n");
    return 2;
  }
  std::string bytes;
  if (argc >= 4 && std::wcscmp(argv[2], L"--raw") == 0) {
    if (!sv::readWholeFile(argv[3], 64u << 20, bytes)) {
      std::fprintf(stderr, "cannot read %ls\n", argv[3]);
      return 1;
    }
  } else {
    sv::SkinPackageBuilder builder;
    int added = 0;
    std::wstring error;
    if (!builder.addFolder(argv[2], added, &error) || !error.empty()) {
      std::fprintf(stderr, "skin folder: %ls\n", error.c_str());
      return 1;
    }
    bytes = builder.serialize();
  }
  HANDLE update = BeginUpdateResourceW(argv[1], FALSE);
  if (!update) {
    std::fprintf(stderr, "BeginUpdateResource failed: %lu\n", GetLastError());
    return 1;
  }
  if (!UpdateResourceW(update, RT_RCDATA, MAKEINTRESOURCEW(sv::kResSkinPackage), sv::kResLanguage,
                       bytes.data(), DWORD(bytes.size())) ||
      !EndUpdateResourceW(update, FALSE)) {
    std::fprintf(stderr, "writing the resource failed: %lu\n", GetLastError());
    return 1;
  }
  return 0;
}
