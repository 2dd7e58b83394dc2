#pragma once
// The window's 24 x 24 outline icons, written as path strings in a small subset of the SVG path
// syntax (M L H V C S A Z, upper case absolute, lower case relative) and turned into lines and
// cubic Bezier curves here; the window strokes them with GDI+.
#include <string_view>
#include <vector>

namespace sv {

struct PathOp {
  enum Kind { Move, Line, Cubic, Close } kind = Move;
  float x1 = 0, y1 = 0, x2 = 0, y2 = 0;  // control points of a cubic
  float x = 0, y = 0;                    // end point
};

// Parses a path; an unknown letter or a missing number ends the parse (what came before stays).
// Arcs become one cubic per quarter turn at most.
std::vector<PathOp> ParseIconPath(std::string_view path);

enum IconId : int {
  kIconUpload = 0, kIconFolder, kIconFolderOpen, kIconLink, kIconSliders, kIconPackage, kIconShield,
  kIconBolt, kIconTick, kIconWarning, kIconInfo, kIconPlay, kIconCopy, kIconPicture, kIconRefresh,
  kIconDownload, kIconDocument, kIconBin, kIconGlobe, kIconKey, kIconChevronLeft, kIconChevronRight,
  kIconMinus, kIconPlus, kIconCount
};

// The path string of an icon; "" for an unknown index.
std::string_view IconPath(int icon);

}  // namespace sv
