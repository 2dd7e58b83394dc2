// The build pipeline's calls into Windows: file copy and move, the resource update functions and
// loading the copy as a data file to list and read back its resources.
#include <windows.h>

#include <vector>

#include "builder/build_request.h"
#include "builder/icon_file.h"
#include "builder/signing.h"
#include "common/crc32.h"
#include "common/file.h"
#include "common/path.h"
#include "common/scoped_win.h"
#include "common/text.h"
#include "patcher/app/resource_ids.h"
#include "release/release_key.h"
#include "skin/skin_package.h"

namespace sv {

namespace {

constexpr uint64_t kTemplateMaxSize = 67108864;

struct ResourceName {
  WORD type;
  bool isId;
  WORD id;
  std::wstring name;
  WORD language;
  LPCWSTR Name() const { return isId ? MAKEINTRESOURCEW(id) : name.c_str(); }
};

ScopedModule LoadAsData(const std::wstring& path) {
  HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (!module) module = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  return ScopedModule(module);
}

struct EnumState {
  WORD type;
  std::vector<ResourceName>* out;
  ResourceName current;
};

BOOL CALLBACK OnLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR param) {
  auto* state = reinterpret_cast<EnumState*>(param);
  ResourceName entry = state->current;
  entry.language = language;
  state->out->push_back(entry);
  return TRUE;
}

BOOL CALLBACK OnName(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR param) {
  auto* state = reinterpret_cast<EnumState*>(param);
  state->current = ResourceName{state->type, IS_INTRESOURCE(name) != 0, 0, {}, 0};
  if (state->current.isId) {
    state->current.id = WORD(reinterpret_cast<ULONG_PTR>(name));
  } else {
    state->current.name = name;
  }
  EnumResourceLanguagesW(module, type, name, OnLanguage, param);
  return TRUE;
}

// Every name and language of the resource types the build replaces.
std::vector<ResourceName> ListResources(const std::wstring& path) {
  std::vector<ResourceName> list;
  ScopedModule module = LoadAsData(path);
  if (!module) return list;
  for (WORD type : {kResTypeIcon, kResTypeGroupIcon, kResTypeVersion, kResTypeRcData}) {
    EnumState state{type, &list, {}};
    EnumResourceNamesW(module.get(), MAKEINTRESOURCEW(type), OnName, reinterpret_cast<LONG_PTR>(&state));
  }
  return list;
}

struct ResourceCopy {
  std::wstring type;  // "#n" for integer types
  ResourceName name;
  std::string data;
};

BOOL CALLBACK OnAnyLanguage(HMODULE module, LPCWSTR type, LPCWSTR name, WORD language, LONG_PTR param) {
  auto* out = reinterpret_cast<std::vector<ResourceCopy>*>(param);
  ResourceCopy copy;
  copy.type = IS_INTRESOURCE(type) ? L"#" + std::to_wstring(reinterpret_cast<ULONG_PTR>(type)) : type;
  copy.name.type = IS_INTRESOURCE(type) ? WORD(reinterpret_cast<ULONG_PTR>(type)) : 0;
  copy.name.isId = IS_INTRESOURCE(name) != 0;
  if (copy.name.isId) copy.name.id = WORD(reinterpret_cast<ULONG_PTR>(name));
  else copy.name.name = name;
  copy.name.language = language;
  HRSRC found = FindResourceExW(module, type, name, language);
  HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
  const void* bytes = loaded ? LockResource(loaded) : nullptr;
  if (bytes) copy.data.assign(static_cast<const char*>(bytes), SizeofResource(module, found));
  out->push_back(std::move(copy));
  return TRUE;
}

BOOL CALLBACK OnAnyName(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR param) {
  EnumResourceLanguagesW(module, type, name, OnAnyLanguage, param);
  return TRUE;
}

BOOL CALLBACK OnAnyType(HMODULE module, LPWSTR type, LONG_PTR param) {
  EnumResourceNamesW(module, type, OnAnyName, param);
  return TRUE;
}

// Wine's resource update keeps deleted entries of a type that the same pass writes again, so the
// template's extra icons could survive. When any icon but ours is left, the file's resources are
// written anew without them (an update that deletes all existing ones, then every other resource
// copied back), which leaves the same result on Windows.
bool RemoveLeftoverIcons(const std::wstring& work, size_t count, DWORD& errorOut) {
  std::vector<ResourceCopy> all;
  {
    ScopedModule module = LoadAsData(work);
    if (!module) {
      errorOut = GetLastError();
      return false;
    }
    EnumResourceTypesW(module.get(), OnAnyType, reinterpret_cast<LONG_PTR>(&all));
  }
  auto ours = [count](const ResourceName& r) {
    if (r.type == kResTypeIcon) return r.isId && r.language == kResLanguage && r.id >= 1 && r.id <= count;
    if (r.type == kResTypeGroupIcon) return r.isId && r.language == kResLanguage && r.id == kResIconGroup;
    return true;
  };
  bool leftover = false;
  for (const ResourceCopy& c : all) leftover = leftover || !ours(c.name);
  if (!leftover) return true;
  HANDLE update = BeginUpdateResourceW(work.c_str(), TRUE);
  if (!update) {
    errorOut = GetLastError();
    return false;
  }
  for (const ResourceCopy& c : all) {
    if (!ours(c.name)) continue;
    const LPCWSTR type = c.name.type ? MAKEINTRESOURCEW(c.name.type) : c.type.c_str();
    if (!UpdateResourceW(update, type, c.name.Name(), c.name.language,
                         const_cast<char*>(c.data.data()), DWORD(c.data.size()))) {
      errorOut = GetLastError();
      EndUpdateResourceW(update, TRUE);
      return false;
    }
  }
  if (!EndUpdateResourceW(update, FALSE)) {
    errorOut = GetLastError();
    return false;
  }
  return true;
}

std::wstring LastErrorText() { return systemErrorText(GetLastError()); }

void Log(BuildLogFn log, void* context, const std::wstring& line) {
  if (log) log(context, line);
}

// The bytes of RT_RCDATA `id` in a module loaded as data, or false when it has none.
bool ReadRcData(HMODULE module, WORD id, std::string& out) {
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(kResTypeRcData));
  HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
  const void* bytes = loaded ? LockResource(loaded) : nullptr;
  if (!bytes) return false;
  out.assign(static_cast<const char*>(bytes), SizeofResource(module, found));
  return true;
}

}  // namespace

BuildResult BuildPatcher(const BuildRequest& request, BuildLogFn log, void* context) {
  BuildResult result;
  const std::wstring work = request.outputPath + L".building";
  bool workCreated = false;
  auto fail = [&](std::wstring message) {
    if (workCreated) DeleteFileW(work.c_str());
    result.ok = false;
    result.message = std::move(message);
    return result;
  };
  auto cancelled = [&request] { return request.cancel && request.cancel->load(); };

  if (!isFile(request.templatePath))
    return fail(L"Şablon exe bulunamadı: " + request.templatePath +
                L"\n(Sarvik.Template.exe oluşturucunun yanında olmalı)");
  if (request.outputPath.empty()) return fail(L"Çıktı dosyası seçilmedi.");
  if (request.packageBytes.empty()) return fail(L"Skin paketi boş.");
  std::string templateBytes;
  if (!readWholeFile(request.templatePath, kTemplateMaxSize, templateBytes) || templateBytes.size() < 512 ||
      templateBytes.compare(0, 2, "MZ") != 0)
    return fail(L"Şablon geçerli bir exe değil.");
  templateBytes.clear();
  std::string versionBlock;
  std::wstring versionError;
  if (!BuildVersionBlock(request.version, versionBlock, &versionError)) return fail(versionError);

  const std::wstring folder = parentPath(request.outputPath);
  if (!folder.empty() && !createDirectories(folder)) return fail(L"Çıktı klasörü oluşturulamadı: " + folder);

  DeleteFileW(work.c_str());
  if (!CopyFileW(request.templatePath.c_str(), work.c_str(), FALSE))
    return fail(L"Şablon kopyalanamadı: " + LastErrorText());
  workCreated = true;
  SetFileAttributesW(work.c_str(), FILE_ATTRIBUTE_NORMAL);
  Log(log, context, L"Şablon kopyalandı.");
  if (cancelled()) return fail(kBuildCancelledText);

  const bool withIcon = !request.iconBytes.empty();
  std::wstring iconError;
  if (withIcon && !CheckIcoFile(request.iconBytes, &iconError)) return fail(iconError);

  const std::vector<ResourceName> existing = ListResources(work);
  HANDLE update = BeginUpdateResourceW(work.c_str(), FALSE);
  if (!update) return fail(L"Kaynak güncelleme başlatılamadı: " + LastErrorText());

  bool ok = true;
  DWORD updateError = 0;
  auto put = [&](WORD type, LPCWSTR name, WORD language, const void* data, DWORD size) {
    if (!ok) return;
    if (!UpdateResourceW(update, MAKEINTRESOURCEW(type), name, language, const_cast<void*>(data), size)) {
      ok = false;
      updateError = GetLastError();
    }
  };
  // Every listed entry of the type, or with `onlyId` only that integer name in every language.
  auto removeAll = [&](WORD type, WORD onlyId) {
    for (const ResourceName& r : existing) {
      if (r.type != type || (onlyId && !(r.isId && r.id == onlyId))) continue;
      put(type, r.Name(), r.language, nullptr, 0);
    }
  };

  if (withIcon) {
    removeAll(kResTypeGroupIcon, 0);
    removeAll(kResTypeIcon, 0);
    const std::vector<std::string_view> images = IcoImages(request.iconBytes);
    for (size_t i = 0; i < images.size(); ++i)
      put(kResTypeIcon, MAKEINTRESOURCEW(i + 1), kResLanguage, images[i].data(), DWORD(images[i].size()));
    const std::string group = BuildIconGroup(request.iconBytes);
    put(kResTypeGroupIcon, MAKEINTRESOURCEW(kResIconGroup), kResLanguage, group.data(), DWORD(group.size()));
    if (ok) Log(log, context, L"İkon yazıldı (" + std::to_wstring(images.size()) + L" boyut).");
  }
  if (ok) {
    removeAll(kResTypeVersion, 0);
    put(kResTypeVersion, MAKEINTRESOURCEW(kResVersion), kResLanguage, versionBlock.data(),
        DWORD(versionBlock.size()));
    if (ok) Log(log, context, L"Sürüm bilgisi yazıldı.");
  }
  if (ok) {
    removeAll(kResTypeRcData, kResSkinPackage);
    removeAll(kResTypeRcData, kResPackageDigest);
    put(kResTypeRcData, MAKEINTRESOURCEW(kResSkinPackage), kResLanguage, request.packageBytes.data(),
        DWORD(request.packageBytes.size()));
    const std::string digest = PackageDigest(request.packageBytes);
    put(kResTypeRcData, MAKEINTRESOURCEW(kResPackageDigest), kResLanguage, digest.data(), DWORD(digest.size()));
    if (ok) Log(log, context, L"Skin paketi gömüldü (" + formatSize(request.packageBytes.size()) + L").");
  }
  if (ok) {
    // The operator's release key: the patcher installs and starts only what a manifest signed
    // with it lists. Without it the template's own (none) stays absent.
    removeAll(kResTypeRcData, kResReleaseKey);
    if (!request.releaseKey.empty()) {
      put(kResTypeRcData, MAKEINTRESOURCEW(kResReleaseKey), kResLanguage, request.releaseKey.data(),
          DWORD(request.releaseKey.size()));
      ReleaseKey key;
      if (ok && ParseReleaseKeyText(request.releaseKey, key))
        Log(log, context, L"Sürüm anahtarı gömüldü (" + toWide(ReleaseKeyId(key)) + L").");
    } else if (ok) {
      Log(log, context, kUnsignedReleaseWarning);
    }
  }
  if (!EndUpdateResourceW(update, ok ? FALSE : TRUE) && ok) {
    ok = false;
    updateError = GetLastError();
  }
  if (!ok) return fail(L"Kaynaklar yazılamadı: " + systemErrorText(updateError));
  if (withIcon && !RemoveLeftoverIcons(work, IcoImages(request.iconBytes).size(), updateError))
    return fail(L"Kaynaklar yazılamadı: " + systemErrorText(updateError));

  {
    ScopedModule module = LoadAsData(work);
    SkinPackage readBack;
    const bool readable = module && readBack.loadEmbedded(module.get());
    std::string keyBack;
    const bool hasKey = module && ReadRcData(module.get(), kResReleaseKey, keyBack);
    module.reset();  // the file is moved below
    if (!readable) return fail(L"Doğrulama başarısız: gömülü skin okunamadı.");
    if (hasKey != !request.releaseKey.empty() || keyBack != request.releaseKey)
      return fail(L"Doğrulama başarısız: gömülü sürüm anahtarı istenenle aynı değil.");
    Log(log, context, L"Doğrulama tamam.");
  }
  if (cancelled()) return fail(kBuildCancelledText);

  if (request.sign) {
    SignOptions options{request.signToolPath, request.pfxPath, request.pfxPassword, request.timestampUrl,
                        request.cancel};
    std::wstring signError;
    if (!SignFile(options, work, WithFallbacks(request.version), log, context, &signError))
      return fail(cancelled() ? std::wstring(kBuildCancelledText) : signError);
    result.isSigned = true;
    Log(log, context, L"İmza eklendi.");
  }

  if (cancelled()) return fail(kBuildCancelledText);
  const DWORD attributes = GetFileAttributesW(request.outputPath.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
    SetFileAttributesW(request.outputPath.c_str(), attributes & ~DWORD(FILE_ATTRIBUTE_READONLY));
  if (!MoveFileExW(work.c_str(), request.outputPath.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) {
    const DWORD error = GetLastError();
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED)
      return fail(L"Çıktı dosyası kullanımda (patcher açık olabilir): " + request.outputPath);
    return fail(L"Çıktı yazılamadı: " + systemErrorText(error));
  }
  workCreated = false;
  if (!Crc32File(request.outputPath, result.crc32, result.size)) return fail(L"Çıktı okunamadı.");
  result.ok = true;
  return result;
}

}  // namespace sv
