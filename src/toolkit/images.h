// Embedded PNG images drawn into opaque bitmaps of a control's size.
#pragma once

#include <windows.h>

#include <string>

namespace qv {

// Draws the RCDATA PNG resource `name` of the program's own module into a new Width x Height
// bitmap filled with `background`, fitted with its aspect ratio kept and centred (enlarged as
// well as reduced, high-quality bicubic, alpha blended over the background).  The caller owns
// the bitmap.  Throws std::runtime_error when the resource is missing or cannot be decoded.
HBITMAP LoadPngResource(const std::string& name, int width, int height, COLORREF background);

}  // namespace qv
