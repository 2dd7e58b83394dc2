#include "patcher/app/startup_skin.h"

#include <new>

#include "patcher/engine/log.h"
#include "skin/skin_definition.h"
#include "skin/skin_package.h"

namespace sv {

bool BuildStartupSkin(const SkinPackageReader& read, SkinDefinition& skinOut,
                      std::wstring& boxText) {
  std::wstring error;
  bool loaded;
  try {
    // The entries are needed only while the skin is built.
    SkinPackage package;
    loaded = read(package, &error) && skinOut.load(package, &error);
  } catch (const std::bad_alloc&) {
    // A skin too large for the address space is a failed start with a reason, not a crash; what
    // the attempt took is freed by now.
    skinOut = SkinDefinition();
    error = L"Bellek yetersiz.";
    loaded = false;
  }
  if (!loaded) {
    Log(L"Skin yuklenemedi: %ls", error.c_str());
    boxText = skinOut.text("ERROR_NO_SKIN") + L"\n\n" + error +
              L"\n\nBu exe Sarvik Olu\u015Fturucu ile haz\u0131rlanmal\u0131d\u0131r.";
    return false;
  }
  for (const std::wstring& warning : skinOut.warnings) Log(L"Skin uyarisi: %ls", warning.c_str());
  return true;
}

}  // namespace sv
