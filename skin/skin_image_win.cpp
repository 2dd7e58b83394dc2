#include "skin/skin_image.h"

#include <cstring>

#include "skin/gdiplus_api.h"

namespace sv {

using namespace gdip;

namespace {

constexpr const wchar_t* kUndecodable = L"Gorsel cozulemedi (desteklenen: PNG, JPG, BMP, GIF).";

bool Fail(std::wstring* errorOut, const wchar_t* message) {
  if (errorOut) *errorOut = message;
  return false;
}

struct BitmapHolder {
  GpBitmap* bitmap = nullptr;
  ~BitmapHolder() {
    if (bitmap) GdipDisposeImage(bitmap);
  }
};

struct StreamHolder {
  IStream* stream = nullptr;
  ~StreamHolder() {
    if (stream) stream->Release();
  }
};

bool FindPngEncoder(CLSID& clsidOut) {
  UINT count = 0, size = 0;
  if (GdipGetImageEncodersSize(&count, &size) != Ok || size == 0) return false;
  std::vector<uint8_t> buffer(size);
  auto* codecs = reinterpret_cast<ImageCodecInfo*>(buffer.data());
  if (GdipGetImageEncoders(count, size, codecs) != Ok) return false;
  for (UINT i = 0; i < count; ++i) {
    if (codecs[i].MimeType && std::wcscmp(codecs[i].MimeType, L"image/png") == 0) {
      clsidOut = codecs[i].Clsid;
      return true;
    }
  }
  return false;
}

}  // namespace

bool decodeImage(std::string_view bytes, SkinImage& out, std::wstring* errorOut,
                 uint64_t maxPixels) {
  out = SkinImage();
  if (bytes.empty()) return Fail(errorOut, L"Bos gorsel.");
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
  void* locked = block ? GlobalLock(block) : nullptr;
  if (!locked) {
    if (block) GlobalFree(block);
    return Fail(errorOut, L"Bellek yetersiz.");
  }
  std::memcpy(locked, bytes.data(), bytes.size());
  GlobalUnlock(block);
  StreamHolder stream;
  // The stream owns the block from here on and frees it on release.
  if (FAILED(CreateStreamOnHGlobal(block, TRUE, &stream.stream))) {
    GlobalFree(block);
    return Fail(errorOut, L"Akis olusturulamadi.");
  }
  BitmapHolder holder;
  if (GdipCreateBitmapFromStream(stream.stream, &holder.bitmap) != Ok || !holder.bitmap)
    return Fail(errorOut, kUndecodable);
  UINT width = 0, height = 0;
  if (GdipGetImageWidth(holder.bitmap, &width) != Ok ||
      GdipGetImageHeight(holder.bitmap, &height) != Ok || width < 1 || height < 1 ||
      width > UINT(kMaxImageSide) || height > UINT(kMaxImageSide))
    return Fail(errorOut, kUndecodable);
  // Refused before the pixels are locked and copied into the cache.
  if (uint64_t(width) * height > maxPixels) return Fail(errorOut, kPixelLimitMessage);
  GpRect rect(0, 0, INT(width), INT(height));
  BitmapData data = {};
  if (GdipBitmapLockBits(holder.bitmap, &rect, ImageLockModeRead, PixelFormat32bppPARGB, &data) !=
      Ok)
    return Fail(errorOut, kUndecodable);
  out.width = int32_t(width);
  out.height = int32_t(height);
  out.pixels.resize(size_t(width) * height);
  for (UINT y = 0; y < height; ++y) {
    const auto* row = reinterpret_cast<const uint32_t*>(static_cast<const uint8_t*>(data.Scan0) +
                                                        ptrdiff_t(y) * data.Stride);
    uint32_t* dst = out.pixels.data() + size_t(y) * width;
    for (UINT x = 0; x < width; ++x) {
      dst[x] = row[x];
      if ((row[x] >> 24) != 0xFF) out.hasAlpha = true;
    }
  }
  GdipBitmapUnlockBits(holder.bitmap, &data);
  return true;
}

bool saveImagePng(const SkinImage& image, const std::wstring& path, std::wstring* errorOut) {
  if (image.width < 1 || image.height < 1 ||
      image.pixels.size() < size_t(image.width) * size_t(image.height))
    return Fail(errorOut, L"Bos gorsel.");
  CLSID png;
  if (!FindPngEncoder(png)) return Fail(errorOut, L"PNG kodlayicisi yok.");
  BitmapHolder holder;
  // GDI+ only reads the pixels here; the bitmap does not outlive this call.
  BYTE* scan0 = reinterpret_cast<BYTE*>(const_cast<uint32_t*>(image.pixels.data()));
  if (GdipCreateBitmapFromScan0(image.width, image.height, image.width * 4, PixelFormat32bppPARGB,
                                scan0, &holder.bitmap) != Ok)
    return Fail(errorOut, L"Gorsel olusturulamadi.");
  if (GdipSaveImageToFile(holder.bitmap, path.c_str(), &png, nullptr) != Ok)
    return Fail(errorOut, L"PNG yazilamadi.");
  return true;
}

}  // namespace sv
