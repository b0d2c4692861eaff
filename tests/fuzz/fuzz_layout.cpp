// The window layout resource (JSON) of the program file; a damaged file may hold any bytes.
// Parse either gives a layout the window can build or throws std::runtime_error naming the fault.
#include <cstddef>
#include <cstdint>
#include <set>
#include <stdexcept>
#include <string>

#include "fuzz_check.h"
#include "mainform/layout.h"

using qv::fuzz::Require;
namespace layout = qv::layout;

namespace {

void CheckColor(const layout::Color& c) {
  Require(c.source != layout::Color::Source::Rgb || c.rgb <= 0xFFFFFF, "an RGB colour has 24 bits");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  layout::Form form;
  try {
    form = layout::Parse(qv::fuzz::AsText(data, size));
  } catch (const std::runtime_error& e) {
    Require(std::string(e.what()).rfind("layout: ", 0) == 0, "a fault is named as a layout fault");
    return 0;
  } catch (...) {
    Require(false, "Parse throws nothing but std::runtime_error");
  }
  CheckColor(form.background);
  std::set<std::string> names, panels;
  for (const layout::Control& c : form.controls) {
    Require(names.insert(c.name).second, "control names are unique");
    Require(c.parent.empty() || panels.count(c.parent) > 0, "a parent is a panel defined before its child");
    if (c.kind == layout::Kind::Panel) panels.insert(c.name);
    CheckColor(c.color);
    CheckColor(c.background);
  }
  return 0;
}
