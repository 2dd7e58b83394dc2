#include "builder/outline_icons.h"

#include <cmath>
#include <cstdlib>
#include <string>

namespace sv {

namespace {

constexpr std::string_view kIconPaths[kIconCount] = {
    "M12 15V4 M7 9l5-5 5 5 M4 15v4a1 1 0 0 0 1 1h14a1 1 0 0 0 1-1v-4",
    "M3 7a2 2 0 0 1 2-2h4l2 2h8a2 2 0 0 1 2 2v9a2 2 0 0 1-2 2H5a2 2 0 0 1-2-2Z",
    "M3 18V7a2 2 0 0 1 2-2h4l2 2h6a2 2 0 0 1 2 2v1 M3 18l3-7h15l-3 7Z",
    "M10 14a4 4 0 0 0 5.66 0l3-3a4 4 0 0 0-5.66-5.66l-1.5 1.5 M14 10a4 4 0 0 0-5.66 0l-3 3a4 4 0 0 0 5.66 5.66l1.5-1.5",
    "M4 6h9 M17 6h3 M15 4v4 M4 12h3 M11 12h9 M9 10v4 M4 18h11 M19 18h1 M17 16v4",
    "M12 3l8 4.5v9L12 21l-8-4.5v-9Z M4 7.5l8 4.5 8-4.5 M12 12v9",
    "M12 3l8 3v6c0 5-3.5 8-8 9-4.5-1-8-4-8-9V6Z M8.5 12l2.5 2.5 4.5-5",
    "M13 2L4 14h7l-1 8 9-12h-7Z",
    "M5 12.5l4.5 4.5L19 7",
    "M12 3.5L22 20H2Z M12 10v4 M12 17v.5",
    "M3 12a9 9 0 1 0 18 0a9 9 0 1 0-18 0 M12 11v6 M12 7.5v.5",
    "M7 4.5v15l12-7.5Z",
    "M9 9h11v11H9Z M5 15H4V4h11v1",
    "M3 5h18v14H3Z M3 16l5-5 4 4 3-3 6 6 M14 9a1.5 1.5 0 1 0 3 0a1.5 1.5 0 1 0-3 0",
    "M20 12a8 8 0 1 1-2.34-5.66 M20 4v5h-5",
    "M12 4v11 M7 10l5 5 5-5 M4 15v4a1 1 0 0 0 1 1h14a1 1 0 0 0 1-1v-4",
    "M6 3h8l5 5v13H6Z M14 3v5h5 M9 13h6 M9 17h6",
    "M4 7h16 M9 7V4h6v3 M6 7l1 13h10l1-13 M10 11v6 M14 11v6",
    "M3 12a9 9 0 1 0 18 0a9 9 0 1 0-18 0 M3 12h18 M12 3c3 3 3 15 0 18 M12 3c-3 3-3 15 0 18",
    "M4 15a4 4 0 1 0 8 0a4 4 0 1 0-8 0 M10.8 12.2L19 4 M16 7l2 2 M14 9l2 2",
    "M15 5l-7 7 7 7",
    "M9 5l7 7-7 7",
    "M5 12h14",
    "M12 5v14 M5 12h14",
};

constexpr double kPi = 3.14159265358979323846;

class Scanner {
public:
  explicit Scanner(std::string_view text) : text_(text) {}

  void SkipSeparators() {
    while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == ',' || text_[at_] == '\t' ||
                                  text_[at_] == '\n' || text_[at_] == '\r'))
      ++at_;
  }
  bool AtEnd() {
    SkipSeparators();
    return at_ >= text_.size();
  }
  bool AtNumber() {
    SkipSeparators();
    if (at_ >= text_.size()) return false;
    const char c = text_[at_];
    return (c >= '0' && c <= '9') || c == '-' || c == '+' || c == '.';
  }
  char Letter() { return text_[at_++]; }
  // One number: sign, digits, one decimal point, exponent. "1.5.5" is 1.5 then .5.
  bool Number(float& out) {
    if (!AtNumber()) return false;
    size_t end = at_;
    if (text_[end] == '-' || text_[end] == '+') ++end;
    bool digits = false, point = false;
    while (end < text_.size()) {
      const char c = text_[end];
      if (c >= '0' && c <= '9') {
        digits = true;
      } else if (c == '.' && !point) {
        point = true;
      } else {
        break;
      }
      ++end;
    }
    if (!digits) return false;
    if (end < text_.size() && (text_[end] == 'e' || text_[end] == 'E')) {
      size_t e = end + 1;
      if (e < text_.size() && (text_[e] == '-' || text_[e] == '+')) ++e;
      if (e < text_.size() && text_[e] >= '0' && text_[e] <= '9') {
        while (e < text_.size() && text_[e] >= '0' && text_[e] <= '9') ++e;
        end = e;
      }
    }
    out = std::strtof(std::string(text_.substr(at_, end - at_)).c_str(), nullptr);
    at_ = end;
    return true;
  }
  // An arc flag may be written without a separator before the next number ("0 01 5").
  bool Flag(bool& out) {
    SkipSeparators();
    if (at_ >= text_.size() || (text_[at_] != '0' && text_[at_] != '1')) return false;
    out = text_[at_++] == '1';
    return true;
  }

private:
  std::string_view text_;
  size_t at_ = 0;
};

// SVG arc in endpoint form to cubics (the centre parametrisation of the SVG implementation notes).
void AddArc(std::vector<PathOp>& ops, float x0, float y0, float rxIn, float ryIn, float angleDeg, bool large,
            bool sweep, float x, float y) {
  if (x0 == x && y0 == y) return;
  double rx = std::fabs(rxIn), ry = std::fabs(ryIn);
  if (rx == 0 || ry == 0) {
    ops.push_back({PathOp::Line, 0, 0, 0, 0, x, y});
    return;
  }
  const double phi = angleDeg * kPi / 180, c = std::cos(phi), s = std::sin(phi);
  const double dx = (x0 - x) / 2.0, dy = (y0 - y) / 2.0;
  const double x1p = c * dx + s * dy, y1p = -s * dx + c * dy;
  const double lambda = (x1p * x1p) / (rx * rx) + (y1p * y1p) / (ry * ry);
  if (lambda > 1) {
    rx *= std::sqrt(lambda);
    ry *= std::sqrt(lambda);
  }
  const double num = rx * rx * ry * ry - rx * rx * y1p * y1p - ry * ry * x1p * x1p;
  const double den = rx * rx * y1p * y1p + ry * ry * x1p * x1p;
  double coef = den == 0 ? 0 : std::sqrt(std::fmax(0.0, num / den));
  if (large == sweep) coef = -coef;
  const double cxp = coef * rx * y1p / ry, cyp = -coef * ry * x1p / rx;
  const double cx = c * cxp - s * cyp + (x0 + x) / 2.0, cy = s * cxp + c * cyp + (y0 + y) / 2.0;
  auto angle = [](double ux, double uy, double vx, double vy) {
    return std::atan2(ux * vy - uy * vx, ux * vx + uy * vy);
  };
  const double theta1 = angle(1, 0, (x1p - cxp) / rx, (y1p - cyp) / ry);
  double delta = angle((x1p - cxp) / rx, (y1p - cyp) / ry, (-x1p - cxp) / rx, (-y1p - cyp) / ry);
  if (!sweep && delta > 0) delta -= 2 * kPi;
  if (sweep && delta < 0) delta += 2 * kPi;
  const int segments = int(std::ceil(std::fabs(delta) / (kPi / 2) - 1e-9));
  const double step = delta / (segments < 1 ? 1 : segments);
  const double k = 4.0 / 3.0 * std::tan(step / 4);
  auto point = [&](double t, double& px, double& py, double& tx, double& ty) {
    const double ex = rx * std::cos(t), ey = ry * std::sin(t);
    px = c * ex - s * ey + cx;
    py = s * ex + c * ey + cy;
    const double dex = -rx * std::sin(t), dey = ry * std::cos(t);
    tx = c * dex - s * dey;
    ty = s * dex + c * dey;
  };
  double t = theta1;
  for (int i = 0; i < segments; ++i) {
    double ax, ay, atx, aty, bx, by, btx, bty;
    point(t, ax, ay, atx, aty);
    point(t + step, bx, by, btx, bty);
    PathOp op{PathOp::Cubic, float(ax + k * atx), float(ay + k * aty), float(bx - k * btx), float(by - k * bty),
              float(bx), float(by)};
    if (i == segments - 1) {
      op.x = x;  // land exactly on the given end point
      op.y = y;
    }
    ops.push_back(op);
    t += step;
  }
}

}  // namespace

std::vector<PathOp> ParseIconPath(std::string_view path) {
  std::vector<PathOp> ops;
  Scanner in(path);
  float cx = 0, cy = 0;          // current point
  float sx = 0, sy = 0;          // start of the figure
  float lastX2 = 0, lastY2 = 0;  // second control point of the previous cubic
  bool lastCubic = false;
  char command = 0;
  while (!in.AtEnd()) {
    if (!in.AtNumber()) {
      command = in.Letter();
    } else if (command == 0 || command == 'Z' || command == 'z') {
      break;  // numbers with no command to take them
    }
    const bool rel = command >= 'a' && command <= 'z';
    const float ox = rel ? cx : 0, oy = rel ? cy : 0;
    const char upper = char(rel ? command - 32 : command);
    bool cubic = false;
    if (upper == 'Z') {
      ops.push_back({PathOp::Close});
      cx = sx;
      cy = sy;
    } else if (upper == 'M' || upper == 'L') {
      float x, y;
      if (!in.Number(x) || !in.Number(y)) break;
      cx = ox + x;
      cy = oy + y;
      ops.push_back({upper == 'M' ? PathOp::Move : PathOp::Line, 0, 0, 0, 0, cx, cy});
      if (upper == 'M') {
        sx = cx;
        sy = cy;
        command = rel ? 'l' : 'L';  // further pairs after a move are line-tos
      }
    } else if (upper == 'H' || upper == 'V') {
      float v;
      if (!in.Number(v)) break;
      if (upper == 'H') cx = ox + v; else cy = oy + v;
      ops.push_back({PathOp::Line, 0, 0, 0, 0, cx, cy});
    } else if (upper == 'C' || upper == 'S') {
      float x1, y1, x2, y2, x, y;
      if (upper == 'C') {
        if (!in.Number(x1) || !in.Number(y1)) break;
        x1 += ox;
        y1 += oy;
      } else {
        x1 = lastCubic ? 2 * cx - lastX2 : cx;
        y1 = lastCubic ? 2 * cy - lastY2 : cy;
      }
      if (!in.Number(x2) || !in.Number(y2) || !in.Number(x) || !in.Number(y)) break;
      PathOp op{PathOp::Cubic, x1, y1, ox + x2, oy + y2, ox + x, oy + y};
      ops.push_back(op);
      lastX2 = op.x2;
      lastY2 = op.y2;
      cx = op.x;
      cy = op.y;
      cubic = true;
    } else if (upper == 'A') {
      float rx, ry, rot, x, y;
      bool large, sweep;
      if (!in.Number(rx) || !in.Number(ry) || !in.Number(rot) || !in.Flag(large) || !in.Flag(sweep) ||
          !in.Number(x) || !in.Number(y))
        break;
      AddArc(ops, cx, cy, rx, ry, rot, large, sweep, ox + x, oy + y);
      cx = ox + x;
      cy = oy + y;
    } else {
      break;
    }
    lastCubic = cubic;
  }
  return ops;
}

std::string_view IconPath(int icon) {
  return icon >= 0 && icon < kIconCount ? kIconPaths[icon] : std::string_view();
}

}  // namespace sv
