// The window layout: every control of the installer window with its kind, parent, place,
// size, font and colours, read from the embedded "TFRMMAIN" resource (JSON).  Coordinates are
// for 96 DPI; the window scales them for the DPI of its monitor.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qv::layout {

enum class Kind { Label, Image, PaintBox, Shape, Panel, CheckBox, Edit, Combo, Button, Progress };

// Windowed controls are real child windows; the others are drawn by their parent.
bool IsWindowed(Kind k);

struct Color {
  enum class Source { None, Rgb, SystemWindowText, SystemGrayText } source = Source::None;
  uint32_t rgb = 0;  // 0xRRGGBB when source is Rgb
};

struct Font {
  std::string face = "Segoe UI";
  int size = 12;  // character height in pixels at 96 DPI
  bool bold = false;
  bool underline = false;
};

struct Control {
  std::string name;
  std::string parent;  // empty: the window itself
  Kind kind = Kind::Label;
  int left = 0, top = 0, width = 0, height = 0;
  bool autoSize = false;       // labels sized to their text
  bool centered = false;       // text centred horizontally
  bool vcentered = false;      // text centred vertically
  bool visible = true;
  bool handCursor = false;
  bool checked = false;        // check boxes
  int tabOrder = -1;
  int max = 0;                 // progress bars
  Font font;                   // the window font unless the layout says otherwise
  Color color, background;
};

struct Timer {
  std::string name;
  int interval = 0;
};

struct Form {
  int width = 0, height = 0;
  Color background;
  Font font;
  std::vector<Timer> timers;
  std::vector<Control> controls;  // parents come before their children
};

// Parses and checks a layout; throws std::runtime_error naming the fault.
Form Parse(std::string_view json);

// Where an image of iw x ih goes when fitted into w x h with its aspect ratio kept and
// centred: sizes rounded to the nearest integer (halves to even), offsets truncated.
struct FitRect { int x, y, w, h; };
FitRect FitImage(int iw, int ih, int w, int h);

// A 96-DPI length at another DPI, rounded to the nearest integer (halves away from zero).
int Scale(int length, int dpi);

}  // namespace qv::layout
