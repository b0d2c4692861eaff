// Embedded PNG images drawn into opaque bitmaps of a control's size.
#pragma once

#include <windows.h>

#include <string>

#include "platform/win32.h"

namespace qv {

// Draws the RCDATA PNG resource `name` of the program's own module into a new Width x Height
// bitmap filled with `background`, fitted with its aspect ratio kept and centred (enlarged as
// well as reduced, high-quality bicubic, alpha blended over the background).  The caller owns
// the bitmap.  Throws std::runtime_error when the resource is missing or cannot be decoded.
win::GdiObject<HBITMAP> LoadPngResource(const std::string& name, int width, int height, COLORREF background);

}  // namespace qv
