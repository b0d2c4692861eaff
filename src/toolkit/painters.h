// How each kind of drawn thing is drawn: one function per kind.  All take a device context
// whose origin is where the caller wants the thing, and draw nothing outside `r`.
#pragma once

#include <windows.h>

#include <string>

namespace qv::paint {

// Text in one font and colour on a transparent background.  DT_* alignment flags are added to
// DT_EXPANDTABS; `prefix` false shows "&" as itself.
void Label(HDC dc, const RECT& r, const std::string& text, HFONT font, COLORREF color, UINT align,
           bool prefix);

// A bitmap made at the control's size, centred and fitted with its aspect ratio.
void Image(HDC dc, const RECT& r, HBITMAP bitmap);

// A filled rectangle.
void Shape(HDC dc, const RECT& r, COLORREF fill);

// Underlined link text filling `r`, with a dotted focus rectangle when `focusCue`.
void Link(HDC dc, const RECT& r, const std::string& text, HFONT font, COLORREF color, UINT align,
          bool focusCue);

// A capsule-shaped button: an anti-aliased path of four arcs (corner squares of 2 x radius)
// filled with `fill` (0xRRGGBB), the caption in white on one line, centred and cut at the
// edges.  With `focusCue`, a dotted white ring inside the edge shows the keyboard focus.
void RoundButton(HDC dc, int width, int height, int radius, uint32_t fill, const std::string& caption,
                 HFONT font, bool focusCue);

// The slide dots: `count` anti-aliased circles of 8 px, 16 px apart, centred in width x height;
// the current one in `current` colour, the others in `other` (both 0xRRGGBB).
void Dots(HDC dc, int width, int height, int count, int currentIndex, uint32_t current, uint32_t other);

// The 1-px outline on the outermost pixels of width x height.
void Border(HDC dc, int width, int height, COLORREF color);

}  // namespace qv::paint
