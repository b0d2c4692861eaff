// The window's controls, built from the layout resource.
//
// Windowed kinds are real child windows: panels, the check box, edit, list, push buttons and
// progress bar, and the two kinds that must take the keyboard focus although they are drawn
// by the program: painted buttons (owner-drawn push buttons that paint a capsule) and links
// (owner-drawn push buttons that paint underlined text).  Both keep the system's button role,
// so Tab reaches them, Enter and Space press them and their caption is their accessible name.
// Labels, images, paint boxes and shapes have no window: the surface they sit on (the window
// or a panel) draws them, double-buffered, so windowed controls always cover them.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "mainform/layout.h"
#include "platform/win32.h"

namespace qv {

class TControlSet;

// What a paint handler gets: a device context whose origin is the control's top-left corner.
struct TPaintArgs {
  HDC dc = nullptr;
  RECT rect{};            // 0, 0, width, height
  bool focusCue = false;  // focused while the keyboard cues are shown
  bool pressed = false;   // held down with Space or the mouse
};

class TControl {
 public:
  const layout::Control& Definition() const { return def_; }
  const std::string& Name() const { return def_.name; }
  layout::Kind Kind() const { return def_.kind; }
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
  // Place relative to the window's client area, through every parent panel.
  RECT BoundsInWindow() const;

  const std::string& Text() const { return text_; }
  void SetText(const std::string& text);  // auto-sized kinds take their text's size
  bool Visible() const { return visible_; }
  // Visible and every parent visible.
  bool Showing() const;
  void SetVisible(bool visible);
  // Windowed kinds only; drawn kinds are always enabled.
  bool Enabled() const;
  void SetEnabled(bool enabled);
  // Whether Tab stops at the control (windowed kinds with a tab order).
  void SetTabStop(bool stop);
  void Focus();
  void BringToFront();
  void SetTextColor(COLORREF c);
  COLORREF TextColor() const { return textColor_; }
  COLORREF Background() const { return background_; }
  void SetShowAccelChar(bool show);
  // Images: an owned bitmap, or one that the caller keeps alive while it is shown.
  void SetBitmap(win::GdiObject<HBITMAP> bitmap);
  void ShowBitmap(HBITMAP bitmap);
  HBITMAP Bitmap() const { return shown_; }
  HFONT Font() const { return font_; }
  void Invalidate();

  // Events.  Drawn controls and links/painted buttons: click (left button released over the
  // control, or Enter/Space on a focused windowed one), hover, mouse-down (button 0 left,
  // 1 right, 2 middle; x, y relative to the control).  Paint boxes and painted buttons paint
  // themselves through OnPaint.  Other windowed kinds: OnChange (check box click, list
  // selection, push button click).
  std::function<void()> OnClick;
  std::function<void()> OnMouseEnter;
  std::function<void()> OnMouseLeave;
  std::function<void(int button, int x, int y)> OnMouseDown;
  std::function<void(const TPaintArgs&)> OnPaint;
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
  win::GdiObject<HBRUSH> backgroundBrush_;
  win::GdiObject<HBITMAP> ownedBitmap_;
  HBITMAP shown_ = nullptr;
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
  const std::vector<std::unique_ptr<TControl>>& All() const { return controls_; }
  int Dpi() const { return dpi_; }
  int Scale(int length) const { return layout::Scale(length, dpi_); }
  const layout::Form& Form() const { return form_; }
  COLORREF WindowBackground() const { return windowBackground_; }
  HFONT WindowFont() const { return windowFont_; }
  // The window font's face at `points` for the current DPI (cached).
  HFONT PointFont(int points);

  // Painted buttons and links show where the focus is once the keyboard has been used (the
  // window calls this on the first key), never after mouse clicks alone.
  void ShowFocusCues();

  // Moves every control to its layout place at a new DPI, with fonts of that DPI.  Places
  // computed at run time are the owner's to compute again afterwards.
  void Rescale(int dpi);

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
  static LRESULT CALLBACK ButtonSubclassProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id,
                                             DWORD_PTR data);
  TControl* Hit(HWND surface, POINT p) const;
  TControl* ByHwnd(HWND hwnd) const;
  void Track(HWND tracked, TControl* over);
  void CreateWindowed(TControl& c, int id);
  void DrawItem(const DRAWITEMSTRUCT& item);
  HFONT FontFor(const layout::Font& f);
  void ClearFonts();

  HWND window_;
  int dpi_;
  layout::Form form_;
  COLORREF windowBackground_;
  win::GdiObject<HBRUSH> windowBrush_;
  HFONT windowFont_ = nullptr;
  std::vector<std::unique_ptr<TControl>> controls_;
  std::map<std::string, TControl*> byName_;
  std::map<std::string, win::GdiObject<HFONT>> fonts_;
  TControl* hover_ = nullptr;
  TControl* pressed_ = nullptr;
  bool focusCues_ = false;
};

COLORREF ToColorRef(uint32_t rgb);

}  // namespace qv
