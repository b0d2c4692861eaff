#include "toolkit/images.h"

#include <gdiplus.h>
#include <objidl.h>
#include <shlwapi.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <stdexcept>

#include "mainform/layout.h"
#include "platform/win32.h"

namespace qv {

win::GdiObject<HBITMAP> LoadPngResource(const std::string& name, int width, int height, COLORREF background) {
  const auto bytes = win::RcData(nullptr, name);
  if (!bytes) throw std::runtime_error("Resource " + name + " not found");
  win::ComPtr<IStream> stream(
      SHCreateMemStream(reinterpret_cast<const BYTE*>(bytes->data()), static_cast<UINT>(bytes->size())));
  if (!stream) throw std::runtime_error("Cannot read resource " + name);
  std::unique_ptr<Gdiplus::Bitmap> image(Gdiplus::Bitmap::FromStream(stream.get()));
  stream.reset();
  if (!image || image->GetLastStatus() != Gdiplus::Ok || image->GetWidth() == 0)
    throw std::runtime_error("Cannot decode image resource " + name);

  const Gdiplus::Color bg(255, GetRValue(background), GetGValue(background), GetBValue(background));
  Gdiplus::Bitmap canvas(width, height, PixelFormat32bppRGB);
  {
    Gdiplus::Graphics g(&canvas);
    g.Clear(bg);
    g.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
    g.SetPixelOffsetMode(Gdiplus::PixelOffsetModeHighQuality);
    const layout::FitRect r = layout::FitImage(static_cast<int>(image->GetWidth()), static_cast<int>(image->GetHeight()),
                               width, height);
    if (g.DrawImage(image.get(), r.x, r.y, r.w, r.h) != Gdiplus::Ok)
      throw std::runtime_error("Cannot draw image resource " + name);
  }
  win::GdiObject<HBITMAP> out;
  if (canvas.GetHBITMAP(bg, out.put()) != Gdiplus::Ok || !out)
    throw std::runtime_error("Cannot create bitmap for " + name);
  return out;
}

}  // namespace qv
