// The window layout: every control of the installer window with its kind, parent, place,
// size, font and colours, read from the embedded "TFRMMAIN" resource (JSON).  Coordinates are
// for 96 DPI; the window scales them for the DPI of its monitor.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qv::layout {

// PaintButton and Link are drawn by the program but are windows of their own, so that they
// take the keyboard focus (owner-drawn push buttons).
enum class Kind { Label, Image, PaintBox, Shape, Panel, CheckBox, Edit, Combo, Button, Progress, PaintButton, Link };

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

// A 96-DPI length of the layout tables at another DPI, rounded to the nearest integer (halves
// away from zero, as MulDiv).
int Scale(int length, int dpi);

// Lengths the window computes at run time scale by its percentage: 100 at 96 DPI, 125 at 120,
// 150 at 144 (DPI / 96 x 100, rounded); the length becomes length x percent / 100, rounded.
int ScalePercent(int dpi);
int ScaleLength(int length, int dpi);

// ---- Geometry the window computes at run time (device pixels) ------------------------------

// The four corner arcs of a capsule button in a width x height box with corner radius r:
// squares of d = 2r at the corners (the right and bottom ones one pixel in, so the shape spans
// columns 0..width-1 and rows 0..height-1), angles in degrees clockwise from the x axis.
struct Arc { int x, y, d, start, sweep; };
std::array<Arc, 4> CapsuleArcs(int width, int height, int radius);

// The slide dots: 8-px circles 16 px apart, the row centred in the paint box.
inline constexpr int kDotSize = 8;
inline constexpr int kDotPitch = 16;
struct DotRow { int x0, y0; };
DotRow DotOrigin(int boxWidth, int boxHeight, int count);
// The dot under x (relative to the paint box), or -1: (x - x0) / 16 truncated toward zero, so
// up to 15 px left of the first dot still selects it.
int DotAt(int x, int boxWidth, int count);

// The finish view: image, name and Start Now centred in the panel, below each other.
struct FinishPlaces { int imageLeft, imageTop, nameLeft, nameTop, buttonLeft, buttonTop; };
FinishPlaces FinishLayout(int panelWidth, int imageWidth, int imageHeight, int nameWidth, int nameHeight,
                          int buttonWidth);

// The acceptance line: the check box just wide enough for its caption, then the three labels
// `gap` apart.  Widths in, left edges out.
struct AcceptLine { int checkWidth, privacyLeft, andLeft, licenseLeft; };
AcceptLine LayoutAcceptLine(int checkLeft, int captionWidth, int box, int gap, int privacyWidth, int andWidth);

// The slide banner: title, picture area and dots inside a banner of the given size.
struct BannerPlaces { int titleTop, dotsTop, imageLeft, imageTop, imageWidth, imageHeight; };
BannerPlaces BannerLayout(int bannerWidth, int bannerHeight, int titleHeight, int dotsHeight, int dpi);

// The client height with the settings panel open: one row below the panel for the border.
inline int ExtendedClientHeight(int panelTop, int panelHeight) { return panelTop + panelHeight + 1; }

// The folder the Browse button puts in the folder box: `chosen` unchanged when its last component
// (after one trailing backslash is removed; empty for a drive root) is the product folder in
// any case of A-Z, otherwise `chosen` joined with the product folder.
std::string WithProductFolder(std::string_view chosen, std::string_view productFolder);

// A font size in points as a character height in pixels at `dpi` (13 pt at 96 DPI: 17 px).
int PointsToPixels(int points, int dpi);

}  // namespace qv::layout
