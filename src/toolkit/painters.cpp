#include "toolkit/painters.h"

#include <gdiplus.h>

#include "mainform/layout.h"
#include "platform/win32.h"

namespace qv::paint {
namespace {

Gdiplus::Color Opaque(uint32_t rgb) {
  return Gdiplus::Color(255, static_cast<BYTE>(rgb >> 16), static_cast<BYTE>(rgb >> 8), static_cast<BYTE>(rgb));
}

void AddCapsule(Gdiplus::GraphicsPath& path, int width, int height, int radius) {
  for (const layout::Arc& a : layout::CapsuleArcs(width, height, radius))
    path.AddArc(a.x, a.y, a.d, a.d, static_cast<Gdiplus::REAL>(a.start), static_cast<Gdiplus::REAL>(a.sweep));
  path.CloseFigure();
}

}  // namespace

void Label(HDC dc, const RECT& r, const std::string& text, HFONT font, COLORREF color, UINT align,
           bool prefix) {
  win::Selection sel = win::Select(dc, font);
  SetTextColor(dc, color);
  SetBkMode(dc, TRANSPARENT);
  const std::wstring w = win::Wide(text);
  RECT box = r;
  DrawTextW(dc, w.c_str(), static_cast<int>(w.size()), &box, DT_EXPANDTABS | align | (prefix ? 0 : DT_NOPREFIX));
}

void Image(HDC dc, const RECT& r, HBITMAP bitmap) {
  if (!bitmap) return;
  BITMAP bm{};
  GetObjectW(bitmap, sizeof bm, &bm);
  if (bm.bmWidth <= 0 || bm.bmHeight <= 0) return;
  const int w = r.right - r.left, h = r.bottom - r.top;
  int dw = w, dh = h;
  if (bm.bmWidth * h > bm.bmHeight * w) dh = MulDiv(bm.bmHeight, w, bm.bmWidth);
  else dw = MulDiv(bm.bmWidth, h, bm.bmHeight);
  win::MemoryDc src = win::CreateMemoryDc(dc);
  win::Selection sel = win::Select(src.get(), bitmap);
  if (dw == bm.bmWidth && dh == bm.bmHeight) {
    BitBlt(dc, r.left + (w - dw) / 2, r.top + (h - dh) / 2, dw, dh, src.get(), 0, 0, SRCCOPY);
  } else {
    SetStretchBltMode(dc, HALFTONE);
    StretchBlt(dc, r.left + (w - dw) / 2, r.top + (h - dh) / 2, dw, dh, src.get(), 0, 0, bm.bmWidth, bm.bmHeight,
               SRCCOPY);
  }
}

void Shape(HDC dc, const RECT& r, COLORREF fill) {
  // ExtTextOut with an opaque rectangle fills without creating a brush.
  const COLORREF old = SetBkColor(dc, fill);
  ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &r, nullptr, 0, nullptr);
  SetBkColor(dc, old);
}

void Link(HDC dc, const RECT& r, const std::string& text, HFONT font, COLORREF color, UINT align,
          bool focusCue) {
  Label(dc, r, text, font, color, align, true);
  if (focusCue) {
    RECT f = r;
    SetTextColor(dc, RGB(0, 0, 0));
    SetBkColor(dc, RGB(255, 255, 255));
    DrawFocusRect(dc, &f);
  }
}

void RoundButton(HDC dc, int width, int height, int radius, uint32_t fill, const std::string& caption,
                 HFONT font, bool focusCue) {
  {
    Gdiplus::Graphics g(dc);
    g.SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
    Gdiplus::GraphicsPath path(Gdiplus::FillModeAlternate);
    AddCapsule(path, width, height, radius);
    Gdiplus::SolidBrush brush(Opaque(fill));
    g.FillPath(&brush, &path);
    if (focusCue && width > 8 && height > 8) {
      // The keyboard focus: a dotted ring 3 px inside the edge, in the caption's colour.
      const int inset = 3;
      Gdiplus::GraphicsPath ring(Gdiplus::FillModeAlternate);
      AddCapsule(ring, width - 2 * inset, height - 2 * inset, radius - inset);
      Gdiplus::Matrix shift;
      shift.Translate(static_cast<Gdiplus::REAL>(inset), static_cast<Gdiplus::REAL>(inset));
      ring.Transform(&shift);
      Gdiplus::Pen pen(Gdiplus::Color(255, 255, 255, 255), 1.0f);
      pen.SetDashStyle(Gdiplus::DashStyleDot);
      g.DrawPath(&pen, &ring);
    }
  }
  // One line, centred, cut at the edges: no wrapping, no ellipsis.
  RECT r{0, 0, width, height};
  win::Selection sel = win::Select(dc, font);
  SetTextColor(dc, RGB(255, 255, 255));
  SetBkMode(dc, TRANSPARENT);
  const std::wstring w = win::Wide(caption);
  DrawTextW(dc, w.c_str(), -1, &r, DT_SINGLELINE | DT_VCENTER | DT_CENTER);
}

void Dots(HDC dc, int width, int height, int count, int currentIndex, uint32_t current, uint32_t other) {
  Gdiplus::Graphics g(dc);
  g.SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
  const layout::DotRow row = layout::DotOrigin(width, height, count);
  Gdiplus::SolidBrush on(Opaque(current)), off(Opaque(other));
  for (int i = 0; i < count; ++i)
    g.FillEllipse(i == currentIndex ? &on : &off, row.x0 + layout::kDotPitch * i, row.y0, layout::kDotSize,
                  layout::kDotSize);
}

void Border(HDC dc, int width, int height, COLORREF color) {
  win::GdiObject<HPEN> pen(CreatePen(PS_SOLID, 1, color));
  win::Selection penSel = win::Select(dc, pen.get());
  win::Selection brushSel = win::Select(dc, GetStockObject(NULL_BRUSH));
  Rectangle(dc, 0, 0, width, height);
}

}  // namespace qv::paint
