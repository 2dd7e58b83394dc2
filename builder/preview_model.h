#pragma once
// The live preview's model: the loaded skin with the operator's current edits, read by the same
// skin code as the patcher, and the fixed sample values its controls show.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "builder/skin_import.h"
#include "skin/renderer.h"
#include "skin/skin_definition.h"

namespace sv {

constexpr uint64_t kPreviewMaxPixels = uint64_t(1) << 30;

struct PreviewModel {
  SkinPackageBuilder entries;  // the edited entries the definition was read from
  SkinDefinition skin;
  std::vector<ControlState> states;
  int32_t width = 0, height = 0;  // 0 when there is no preview
  size_t linkCount = 0;
};

// Gauges at 0.70 ("PROGRESS_SUB" at 0.45), the main text as downloading at 45 %, the file texts
// with a sample file; every other control as the skin defines it.
std::vector<ControlState> PreviewStates(const SkinDefinition& skin);

// Applies the edits and reads the result. False with the reader's message; true with a model
// whose width and height are 0 when the skin has no drawable size (or too many pixels).
bool BuildPreviewModel(const SkinImport& skin, const SkinFields& fields, PreviewModel& modelOut,
                       std::wstring* errorOut);

// The preview panel's three facts: "920 × 580 px", "Saydam pencere" or "Opak pencere", "2 bağlantı".
std::wstring PreviewSizeText(int32_t width, int32_t height);
std::wstring PreviewWindowKindText(bool transparent);
std::wstring PreviewLinkText(size_t links);

constexpr const wchar_t* kPreviewWaitingText = L"Skin yüklenince patcher burada,\ngerçekteki gibi görünür.";
constexpr const wchar_t* kPreviewWaitingBadge = L"Önizleme bekliyor";
constexpr const wchar_t* kPreviewFailedText = L"Skin çözülemedi — Kaynak bölümündeki uyarılara bakın.";
constexpr const wchar_t* kPreviewFailedLog = L"Önizleme hazırlanamadı: ";

}  // namespace sv
