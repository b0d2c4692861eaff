#include "mainform/layout.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <set>
#include <stdexcept>

namespace qv::layout {
namespace {

using nlohmann::json;

[[noreturn]] void Fail(const std::string& what) { throw std::runtime_error("layout: " + what); }

Kind ParseKind(const std::string& s, const std::string& name) {
  static const std::pair<const char*, Kind> kinds[] = {
      {"label", Kind::Label},   {"image", Kind::Image},       {"paintbox", Kind::PaintBox},
      {"shape", Kind::Shape},   {"panel", Kind::Panel},       {"checkbox", Kind::CheckBox},
      {"edit", Kind::Edit},     {"combo", Kind::Combo},       {"button", Kind::Button},
      {"progress", Kind::Progress}};
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

Font ParseFont(const json& j, Font base) {
  if (!j.is_object()) return base;
  base.face = j.value("face", base.face);
  base.size = j.value("size", base.size);
  base.bold = j.value("bold", false);
  base.underline = j.value("underline", false);
  return base;
}

}  // namespace

bool IsWindowed(Kind k) {
  switch (k) {
    case Kind::Panel: case Kind::CheckBox: case Kind::Edit: case Kind::Combo: case Kind::Button:
    case Kind::Progress:
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
    f.width = w.at("width").get<int>();
    f.height = w.at("height").get<int>();
    f.background = ParseColor(w.value("background", json()), "window");
    f.font = ParseFont(w.value("font", json()), Font{});
    for (const json& t : doc.value("timers", json::array()))
      f.timers.push_back({t.at("name").get<std::string>(), t.at("interval").get<int>()});

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
      c.left = b[0].get<int>();
      c.top = b[1].get<int>();
      c.width = b[2].get<int>();
      c.height = b[3].get<int>();
      c.autoSize = j.value("autosize", false);
      c.centered = j.value("align", std::string("left")) == "center";
      c.vcentered = j.value("layout", std::string("top")) == "center";
      c.visible = j.value("visible", true);
      c.handCursor = j.value("cursor", std::string()) == "hand";
      c.checked = j.value("checked", false);
      c.tabOrder = j.value("taborder", -1);
      c.max = j.value("max", 0);
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

}  // namespace qv::layout
