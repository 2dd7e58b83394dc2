#include "builder/preview_model.h"

#include "common/text.h"

namespace sv {

std::vector<ControlState> PreviewStates(const SkinDefinition& skin) {
  std::vector<ControlState> states(skin.controls.size());
  const std::wstring mainText = skin.text("TORRENT_STATE_DOWNLOADING") + L"  %45";
  for (size_t i = 0; i < skin.controls.size(); ++i) {
    const SkinControl& c = skin.controls[i];
    ControlState& s = states[i];
    if (c.kind == ControlKind::Gauge) {
      s.progress = c.id == "PROGRESS_SUB" ? 0.45f : 0.70f;
    } else if (c.id == "TEXT_MAIN") {
      s.hasTextOverride = true;
      s.textOverride = mainText;
    } else if (c.id == "TEXT_SUB" || c.id == "TEXT_TORRENT") {
      s.hasTextOverride = true;
      s.textOverride = L"pack\\root.epk (%45)";
    }
  }
  return states;
}

bool BuildPreviewModel(const SkinImport& skin, const SkinFields& fields, PreviewModel& model,
                       std::wstring* errorOut) {
  model.entries = ApplyEdits(skin, fields);
  model.skin = SkinDefinition();
  model.width = model.height = 0;
  model.linkCount = skin.links.size();
  std::wstring error;
  if (!model.skin.load(model.entries.package, &error)) {
    if (errorOut) *errorOut = error;
    return false;
  }
  // Images are decoded on demand while drawing: the definition keeps reading from our entries.
  model.skin.setPackage(&model.entries.package);
  model.states = PreviewStates(model.skin);
  const int32_t w = model.skin.width, h = model.skin.height;
  if (w >= 1 && h >= 1 && uint64_t(w) * uint64_t(h) < kPreviewMaxPixels) {
    model.width = w;
    model.height = h;
  }
  return true;
}

std::wstring PreviewSizeText(int32_t width, int32_t height) {
  return formatInt64(width) + L" × " + formatInt64(height) + L" px";
}

std::wstring PreviewWindowKindText(bool transparent) {
  return transparent ? L"Saydam pencere" : L"Opak pencere";
}

std::wstring PreviewLinkText(size_t links) { return formatInt64(int64_t(links)) + L" bağlantı"; }

}  // namespace sv
