#include "mainform/layout.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <set>
#include <stdexcept>

#include "core/strings.h"

namespace qv::layout {
namespace {

using nlohmann::json;

[[noreturn]] void Fail(const std::string& what) { throw std::runtime_error("layout: " + what); }

Kind ParseKind(const std::string& s, const std::string& name) {
  static const std::pair<const char*, Kind> kinds[] = {
      {"label", Kind::Label},   {"image", Kind::Image},       {"paintbox", Kind::PaintBox},
      {"shape", Kind::Shape},   {"panel", Kind::Panel},       {"checkbox", Kind::CheckBox},
      {"edit", Kind::Edit},     {"combo", Kind::Combo},       {"button", Kind::Button},
      {"progress", Kind::Progress}, {"paintbutton", Kind::PaintButton}, {"link", Kind::Link}};
  for (const auto& [text, kind] : kinds)
    if (s == text) return kind;
  Fail(name + ": unknown kind \"" + s + "\"");
}

Color ParseColor(const json& j, const std::string& name) {
  Color c;
  if (j.is_null()) return c;
  const std::string s = j.get<std::string>();
  if (s == "sys:windowtext") {
    c.source = Color::Source::SystemWindowText;
  } else if (s == "sys:graytext") {
    c.source = Color::Source::SystemGrayText;
  } else if (s.size() == 7 && s[0] == '#' &&
             s.find_first_not_of("0123456789abcdefABCDEF", 1) == std::string::npos) {
    c.source = Color::Source::Rgb;
    c.rgb = static_cast<uint32_t>(std::stoul(s.substr(1), nullptr, 16));
  } else {
    Fail(name + ": bad colour \"" + s + "\"");
  }
  return c;
}

// A number of the layout as an int.  A value beyond int (a damaged resource) is a fault: the
// JSON library's own conversion would wrap it or, for a fraction, be undefined.
int IntOf(const json& j, const std::string& what) {
  constexpr int64_t kMin = std::numeric_limits<int>::min(), kMax = std::numeric_limits<int>::max();
  bool fits = true;  // not a number: get<int> raises the library's type error
  if (j.is_number_unsigned()) fits = j.get<uint64_t>() <= static_cast<uint64_t>(kMax);
  else if (j.is_number_integer()) fits = j.get<int64_t>() >= kMin && j.get<int64_t>() <= kMax;
  else if (j.is_number_float()) fits = j.get<double>() > kMin - 1.0 && j.get<double>() < kMax + 1.0;
  if (!fits) Fail(what + ": number out of range");
  return j.get<int>();
}

// A member that is an int, or `fallback` when it is missing.
int IntOr(const json& j, const char* key, int fallback, const std::string& what) {
  if (!j.is_object()) return j.value(key, fallback);  // raises the library's type error
  const auto it = j.find(key);
  return it == j.end() ? fallback : IntOf(*it, what + "." + key);
}

Font ParseFont(const json& j, Font base) {
  if (!j.is_object()) return base;
  base.face = j.value("face", base.face);
  base.size = IntOr(j, "size", base.size, "font");
  base.bold = j.value("bold", false);
  base.underline = j.value("underline", false);
  return base;
}

}  // namespace

bool IsWindowed(Kind k) {
  switch (k) {
    case Kind::Panel: case Kind::CheckBox: case Kind::Edit: case Kind::Combo: case Kind::Button:
    case Kind::Progress: case Kind::PaintButton: case Kind::Link:
      return true;
    default:
      return false;
  }
}

Form Parse(std::string_view text) {
  json doc;
  try {
    doc = json::parse(text);
  } catch (const json::exception& e) {
    Fail(std::string("not JSON: ") + e.what());
  }
  try {
    Form f;
    const json& w = doc.at("window");
    f.width = IntOf(w.at("width"), "window.width");
    f.height = IntOf(w.at("height"), "window.height");
    f.background = ParseColor(w.value("background", json()), "window");
    f.font = ParseFont(w.value("font", json()), Font{});
    for (const json& t : doc.value("timers", json::array()))
      f.timers.push_back({t.at("name").get<std::string>(), IntOf(t.at("interval"), "timer interval")});

    std::set<std::string> names, panels;
    for (const json& j : doc.at("controls")) {
      Control c;
      c.name = j.at("name").get<std::string>();
      if (!names.insert(c.name).second) Fail("duplicate control " + c.name);
      c.kind = ParseKind(j.at("kind").get<std::string>(), c.name);
      c.parent = j.value("parent", std::string());
      if (!c.parent.empty() && !panels.count(c.parent))
        Fail(c.name + ": parent " + c.parent + " is not a panel defined before it");
      const json& b = j.at("bounds");
      if (!b.is_array() || b.size() != 4) Fail(c.name + ": bounds must be [left, top, width, height]");
      c.left = IntOf(b[0], c.name + ": left");
      c.top = IntOf(b[1], c.name + ": top");
      c.width = IntOf(b[2], c.name + ": width");
      c.height = IntOf(b[3], c.name + ": height");
      c.autoSize = j.value("autosize", false);
      c.centered = j.value("align", std::string("left")) == "center";
      c.vcentered = j.value("layout", std::string("top")) == "center";
      c.visible = j.value("visible", true);
      c.handCursor = j.value("cursor", std::string()) == "hand";
      c.checked = j.value("checked", false);
      c.tabOrder = IntOr(j, "taborder", -1, c.name);
      c.max = IntOr(j, "max", 0, c.name);
      c.font = ParseFont(j.value("font", json()), f.font);
      c.color = ParseColor(j.value("color", json()), c.name);
      c.background = ParseColor(j.value("background", json()), c.name);
      if (c.kind == Kind::Panel) panels.insert(c.name);
      f.controls.push_back(std::move(c));
    }
    return f;
  } catch (const json::exception& e) {
    Fail(e.what());
  }
}

FitRect FitImage(int iw, int ih, int w, int h) {
  const double s = std::min(static_cast<double>(w) / iw, static_cast<double>(h) / ih);
  // nearbyint rounds halves to even in the default rounding mode.
  const int dw = static_cast<int>(std::nearbyint(iw * s));
  const int dh = static_cast<int>(std::nearbyint(ih * s));
  return {(w - dw) / 2, (h - dh) / 2, dw, dh};
}

int Scale(int length, int dpi) {
  const long long n = static_cast<long long>(length) * dpi;
  return static_cast<int>(n >= 0 ? (n + 48) / 96 : -((-n + 48) / 96));
}

std::array<Arc, 4> CapsuleArcs(int width, int height, int radius) {
  const int d = 2 * radius;
  return {{{0, 0, d, 180, 90},
           {width - d - 1, 0, d, 270, 90},
           {width - d - 1, height - d - 1, d, 0, 90},
           {0, height - d - 1, d, 90, 90}}};
}

DotRow DotOrigin(int boxWidth, int boxHeight, int count) {
  const int row = kDotPitch * (count - 1) + kDotSize;
  return {(boxWidth - row) / 2, (boxHeight - kDotSize) / 2};
}

int DotAt(int x, int boxWidth, int count) {
  const int k = (x - DotOrigin(boxWidth, 0, count).x0) / kDotPitch;
  return k < 0 || k >= count ? -1 : k;
}

FinishPlaces FinishLayout(int panelWidth, int imageWidth, int imageHeight, int nameWidth, int nameHeight,
                          int buttonWidth) {
  FinishPlaces p{};
  p.imageTop = 58;
  p.imageLeft = (panelWidth - imageWidth) / 2;
  p.nameLeft = (panelWidth - nameWidth) / 2;
  p.nameTop = p.imageTop + imageHeight + 16;
  p.buttonLeft = (panelWidth - buttonWidth) / 2;
  p.buttonTop = p.nameTop + nameHeight + 24;
  return p;
}

AcceptLine LayoutAcceptLine(int checkLeft, int captionWidth, int box, int gap, int privacyWidth, int andWidth) {
  AcceptLine a{};
  a.checkWidth = captionWidth + box;
  a.privacyLeft = checkLeft + a.checkWidth + gap;
  a.andLeft = a.privacyLeft + privacyWidth + gap;
  a.licenseLeft = a.andLeft + andWidth + gap;
  return a;
}

BannerPlaces BannerLayout(int bannerWidth, int bannerHeight, int titleHeight, int dotsHeight, int dpi) {
  BannerPlaces b{};
  b.titleTop = ScaleLength(8, dpi);
  b.dotsTop = bannerHeight - dotsHeight - ScaleLength(4, dpi);
  b.imageLeft = ScaleLength(12, dpi);
  b.imageTop = b.titleTop + titleHeight + ScaleLength(3, dpi);
  b.imageWidth = bannerWidth - ScaleLength(24, dpi);
  b.imageHeight = b.dotsTop - (b.titleTop + titleHeight) - ScaleLength(6, dpi);
  return b;
}

std::string WithProductFolder(std::string_view chosen, std::string_view productFolder) {
  std::string_view path = chosen;
  if (!path.empty() && path.back() == '\\') path.remove_suffix(1);
  const size_t cut = path.find_last_of("\\/:");
  const std::string_view last = cut == std::string_view::npos ? path : path.substr(cut + 1);
  if (AsciiLower(last) == AsciiLower(productFolder)) return std::string(chosen);
  return JoinPath(chosen, productFolder);
}

namespace {
// n / d rounded to the nearest integer, halves away from zero (as MulDiv); d > 0.
int RoundDiv(long long n, long long d) { return static_cast<int>(n >= 0 ? (n + d / 2) / d : -((-n + d / 2) / d)); }
}  // namespace

int ScalePercent(int dpi) { return RoundDiv(100LL * dpi, 96); }

int ScaleLength(int length, int dpi) { return RoundDiv(static_cast<long long>(length) * ScalePercent(dpi), 100); }

int PointsToPixels(int points, int dpi) { return RoundDiv(static_cast<long long>(points) * dpi, 72); }

}  // namespace qv::layout
