#pragma once
// The operator's behaviour choices for one patcher, carried in the skin package as "sarvik.ini".
// A missing entry or key leaves the default.
#include <cstdint>
#include <string>
#include <string_view>

namespace sv {

struct PatcherSettings {
  static constexpr int32_t kMinConnections = 1, kMaxConnections = 8;
  static constexpr int32_t kMinSegmentMb = 1, kMaxSegmentMb = 64;
  static constexpr int32_t kMaxMaxKbps = 1048576;  // 1 GiB/s: beyond any player's line

  std::wstring title;             // patcher.title: the window's title
  int32_t connections = 4;        // patcher.connections, 1 ... 8
  int32_t segmentMb = 4;          // patcher.segment_mb, 1 ... 64
  int32_t maxKbps = 0;            // patcher.max_kbps: bandwidth limit in KiB/s, 0 = none
  bool closeOnStart = true;       // patcher.close_on_start
  bool autoStart = false;         // patcher.auto_start
  bool allowStartOnError = false; // patcher.allow_start_on_error
  bool browserEmulation = true;   // patcher.browser_emulation
  std::wstring runArgs;           // patcher.run_args: the game's arguments

  // Reads the INI text; unknown keys are ignored, bad numbers and words keep the default, numbers
  // are clamped to their range.
  static PatcherSettings parse(std::string_view bytes);
  // The text the builder stores (UTF-8, CR LF), every field as it is except that line breaks in
  // the two strings become spaces.
  std::string toIni() const;
};

// The package entry that holds the settings.
constexpr std::string_view kSettingsEntryName = "sarvik.ini";

}  // namespace sv
