// The window's controls, built from the layout resource.  Windowed kinds (panels, check box,
// edit, list, buttons, progress bar) are real child windows; labels, images, paint boxes and
// shapes are drawn by the surface they sit on (the window or a panel), so windowed controls
// always cover them.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "mainform/layout.h"

namespace qv {

class TControlSet;

class TControl {
 public:
  const layout::Control& Definition() const { return def_; }
  const std::string& Name() const { return def_.name; }
  HWND Hwnd() const { return hwnd_; }
  TControl* Parent() const { return parent_; }

  // Place and size in device pixels, relative to the parent surface.
  const RECT& Bounds() const { return bounds_; }
  int Left() const { return bounds_.left; }
  int Top() const { return bounds_.top; }
  int Width() const { return bounds_.right - bounds_.left; }
  int Height() const { return bounds_.bottom - bounds_.top; }
  void SetBounds(int left, int top, int width, int height);
  void SetLeft(int left) { SetBounds(left, Top(), Width(), Height()); }
  void SetTop(int top) { SetBounds(Left(), top, Width(), Height()); }

  const std::string& Text() const { return text_; }
  void SetText(const std::string& text);  // auto-sized labels take their text's size
  bool Visible() const { return visible_; }
  // Visible and every parent visible.
  bool Showing() const;
  void SetVisible(bool visible);
  void BringToFront();
  void SetTextColor(COLORREF c);
  void SetShowAccelChar(bool show);
  // Images: takes ownership of the bitmap (the previous one is freed).
  void SetBitmap(HBITMAP bitmap);
  HFONT Font() const { return font_; }
  void Invalidate();

  // Events of drawn controls (paint boxes paint themselves through OnPaint).
  std::function<void()> OnClick;
  std::function<void()> OnMouseEnter;
  std::function<void()> OnMouseLeave;
  std::function<void(int button, int x, int y)> OnMouseDown;
  std::function<void(HDC dc, const RECT& r)> OnPaint;
  // Windowed controls: button click / check box click / list selection / edit change.
  std::function<void()> OnChange;

  ~TControl();

 private:
  friend class TControlSet;
  TControlSet* set_ = nullptr;
  layout::Control def_;
  TControl* parent_ = nullptr;
  HWND hwnd_ = nullptr;
  RECT bounds_{};
  std::string text_;
  bool visible_ = true;
  bool showAccelChar_ = true;
  HFONT font_ = nullptr;
  COLORREF textColor_ = 0;
  COLORREF background_ = 0;
  HBRUSH backgroundBrush_ = nullptr;
  HBITMAP bitmap_ = nullptr;
  void Autosize();
  HWND Surface() const;
};

class TControlSet {
 public:
  // Builds every control of `form` inside `window` at `dpi`.
  TControlSet(HWND window, const layout::Form& form, int dpi);
  ~TControlSet();
  TControlSet(const TControlSet&) = delete;
  TControlSet& operator=(const TControlSet&) = delete;

  TControl* Find(const std::string& name) const;
  TControl& operator[](const std::string& name) const;
  int Dpi() const { return dpi_; }
  int Scale(int length) const { return layout::Scale(length, dpi_); }
  COLORREF WindowBackground() const { return windowBackground_; }
  HFONT WindowFont() const { return windowFont_; }
  HFONT FontFor(const layout::Font& f);

  // Called by the window procedure of the window and of each panel.  Returns true when the
  // message was handled (result in *result).
  bool HandleSurfaceMessage(HWND surface, UINT msg, WPARAM wp, LPARAM lp, LRESULT* result);
  // Paints the drawn controls that sit on `surface`.
  void PaintSurface(HWND surface, HDC dc);
  // Drawn on the window after its controls (the border).
  std::function<void(HDC dc, const RECT& client)> OnPaintWindow;

 private:
  friend class TControl;
  static LRESULT CALLBACK PanelProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  TControl* Hit(HWND surface, POINT p) const;
  TControl* ByHwnd(HWND hwnd) const;
  void Track(HWND surface, TControl* over);

  HWND window_;
  int dpi_;
  COLORREF windowBackground_;
  HBRUSH windowBrush_ = nullptr;
  HFONT windowFont_ = nullptr;
  std::vector<std::unique_ptr<TControl>> controls_;
  std::map<std::string, TControl*> byName_;
  std::map<std::string, HFONT> fonts_;
  TControl* hover_ = nullptr;
  TControl* pressed_ = nullptr;
};

COLORREF ToColorRef(uint32_t rgb);

}  // namespace qv
