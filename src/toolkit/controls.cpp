#include "mainform/controls.h"

#include <commctrl.h>
#include <windowsx.h>

#include "platform/win32.h"

namespace qv {
namespace {

constexpr wchar_t kPanelClass[] = L"TPanel";
constexpr int kFirstControlId = 100;

COLORREF ResolveColor(const layout::Color& c, COLORREF fallback) {
  switch (c.source) {
    case layout::Color::Source::Rgb: return ToColorRef(c.rgb);
    case layout::Color::Source::SystemWindowText: return GetSysColor(COLOR_WINDOWTEXT);
    case layout::Color::Source::SystemGrayText: return GetSysColor(COLOR_GRAYTEXT);
    default: return fallback;
  }
}

void RegisterPanelClass(HINSTANCE instance, WNDPROC proc) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  if (GetClassInfoExW(instance, kPanelClass, &wc)) return;
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = proc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.lpszClassName = kPanelClass;
  RegisterClassExW(&wc);
}

}  // namespace

COLORREF ToColorRef(uint32_t rgb) { return RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF); }

// ---- TControl ---------------------------------------------------------------------------

TControl::~TControl() {
  if (bitmap_) DeleteObject(bitmap_);
  if (backgroundBrush_) DeleteObject(backgroundBrush_);
}

HWND TControl::Surface() const { return parent_ ? parent_->hwnd_ : set_->window_; }

bool TControl::Showing() const { return visible_ && (!parent_ || parent_->Showing()); }

void TControl::Invalidate() {
  if (hwnd_) InvalidateRect(hwnd_, nullptr, TRUE);
  else InvalidateRect(Surface(), &bounds_, FALSE);
}

void TControl::SetBounds(int left, int top, int width, int height) {
  if (hwnd_) {
    MoveWindow(hwnd_, left, top, width, height, TRUE);
    bounds_ = {left, top, left + width, top + height};
    return;
  }
  Invalidate();
  bounds_ = {left, top, left + width, top + height};
  Invalidate();
}

void TControl::Autosize() {
  if (!def_.autoSize || hwnd_) return;
  HDC dc = GetDC(Surface());
  HGDIOBJ old = SelectObject(dc, font_);
  const std::wstring w = win::Wide(text_);
  RECT r{0, 0, 0, 0};
  if (w.empty()) {
    TEXTMETRICW tm{};
    GetTextMetricsW(dc, &tm);
    r.bottom = tm.tmHeight;
  } else {
    DrawTextW(dc, w.c_str(), static_cast<int>(w.size()), &r,
              DT_CALCRECT | DT_EXPANDTABS | (showAccelChar_ ? 0 : DT_NOPREFIX));
  }
  SelectObject(dc, old);
  ReleaseDC(Surface(), dc);
  SetBounds(Left(), Top(), r.right, r.bottom);
}

void TControl::SetText(const std::string& text) {
  text_ = text;
  if (hwnd_) {
    SetWindowTextW(hwnd_, win::Wide(text).c_str());
    return;
  }
  Autosize();
  Invalidate();
}

void TControl::SetVisible(bool visible) {
  if (visible_ == visible) return;
  visible_ = visible;
  if (hwnd_) ShowWindow(hwnd_, visible ? SW_SHOW : SW_HIDE);
  else Invalidate();
}

void TControl::BringToFront() {
  if (hwnd_) SetWindowPos(hwnd_, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

void TControl::SetTextColor(COLORREF c) {
  textColor_ = c;
  Invalidate();
}

void TControl::SetShowAccelChar(bool show) {
  showAccelChar_ = show;
  Autosize();
  Invalidate();
}

void TControl::SetBitmap(HBITMAP bitmap) {
  if (bitmap_) DeleteObject(bitmap_);
  bitmap_ = bitmap;
  Invalidate();
}

// ---- TControlSet ------------------------------------------------------------------------

TControlSet::TControlSet(HWND window, const layout::Form& form, int dpi)
    : window_(window), dpi_(dpi) {
  windowBackground_ = ResolveColor(form.background, GetSysColor(COLOR_BTNFACE));
  windowBrush_ = CreateSolidBrush(windowBackground_);
  windowFont_ = FontFor(form.font);
  const HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window, GWLP_HINSTANCE));
  RegisterPanelClass(instance, PanelProc);

  int id = kFirstControlId;
  for (const layout::Control& def : form.controls) {
    auto c = std::make_unique<TControl>();
    c->set_ = this;
    c->def_ = def;
    c->parent_ = def.parent.empty() ? nullptr : byName_.at(def.parent);
    c->bounds_ = {Scale(def.left), Scale(def.top), Scale(def.left) + Scale(def.width),
                  Scale(def.top) + Scale(def.height)};
    c->visible_ = def.visible;
    c->font_ = FontFor(def.font);
    c->textColor_ = ResolveColor(def.color, GetSysColor(COLOR_WINDOWTEXT));
    const COLORREF inherited = c->parent_ ? c->parent_->background_ : windowBackground_;
    c->background_ = ResolveColor(def.background, inherited);

    if (layout::IsWindowed(def.kind)) {
      const wchar_t* cls = nullptr;
      DWORD style = WS_CHILD | WS_CLIPSIBLINGS | (def.visible ? WS_VISIBLE : 0);
      DWORD exStyle = 0;
      int h = c->Height();
      switch (def.kind) {
        case layout::Kind::Panel: cls = kPanelClass; style |= WS_CLIPCHILDREN; break;
        case layout::Kind::CheckBox: cls = WC_BUTTONW; style |= BS_AUTOCHECKBOX | WS_TABSTOP; break;
        case layout::Kind::Button: cls = WC_BUTTONW; style |= BS_PUSHBUTTON | WS_TABSTOP; break;
        case layout::Kind::Edit:
          cls = WC_EDITW;
          style |= ES_AUTOHSCROLL | WS_TABSTOP;
          exStyle |= WS_EX_CLIENTEDGE;
          break;
        case layout::Kind::Combo:
          cls = WC_COMBOBOXW;
          style |= CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP;
          h = Scale(def.height + 240);  // includes the drop-down list
          break;
        case layout::Kind::Progress: cls = PROGRESS_CLASSW; break;
        default: break;
      }
      const HWND parentHwnd = c->parent_ ? c->parent_->hwnd_ : window_;
      c->hwnd_ = CreateWindowExW(exStyle, cls, L"", style, c->Left(), c->Top(), c->Width(), h,
                                 parentHwnd, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id++)),
                                 instance, nullptr);
      SendMessageW(c->hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(c->font_), FALSE);
      if (def.kind == layout::Kind::Panel) {
        c->backgroundBrush_ = CreateSolidBrush(c->background_);
        SetWindowLongPtrW(c->hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(c.get()));
      } else if (def.kind == layout::Kind::Progress) {
        SendMessageW(c->hwnd_, PBM_SETRANGE32, 0, def.max);
      } else if (def.kind == layout::Kind::CheckBox && def.checked) {
        SendMessageW(c->hwnd_, BM_SETCHECK, BST_CHECKED, 0);
      }
    } else {
      c->Autosize();
    }
    byName_[def.name] = c.get();
    controls_.push_back(std::move(c));
  }
  // Tab order follows the layout's numbers within each parent.
  for (int order = 9; order >= 0; --order)
    for (const auto& c : controls_)
      if (c->hwnd_ && c->def_.tabOrder == order)
        SetWindowPos(c->hwnd_, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

TControlSet::~TControlSet() {
  for (auto& c : controls_)
    if (c->hwnd_ && c->def_.kind == layout::Kind::Panel) SetWindowLongPtrW(c->hwnd_, GWLP_USERDATA, 0);
  controls_.clear();
  for (auto& [key, font] : fonts_) DeleteObject(font);
  if (windowBrush_) DeleteObject(windowBrush_);
}

HFONT TControlSet::FontFor(const layout::Font& f) {
  const std::string key = f.face + "|" + std::to_string(f.size) + "|" + (f.bold ? "b" : "") +
                          (f.underline ? "u" : "");
  if (auto it = fonts_.find(key); it != fonts_.end()) return it->second;
  // A negative height asks for the character height in pixels.
  HFONT font = CreateFontW(-Scale(f.size), 0, 0, 0, f.bold ? FW_BOLD : FW_NORMAL, FALSE,
                           f.underline ? TRUE : FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                           CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH,
                           win::Wide(f.face).c_str());
  fonts_[key] = font;
  return font;
}

TControl* TControlSet::Find(const std::string& name) const {
  auto it = byName_.find(name);
  return it == byName_.end() ? nullptr : it->second;
}

TControl& TControlSet::operator[](const std::string& name) const { return *byName_.at(name); }

TControl* TControlSet::ByHwnd(HWND hwnd) const {
  for (const auto& c : controls_)
    if (c->hwnd_ == hwnd) return c.get();
  return nullptr;
}

TControl* TControlSet::Hit(HWND surface, POINT p) const {
  for (auto it = controls_.rbegin(); it != controls_.rend(); ++it) {
    TControl* c = it->get();
    if (!c->hwnd_ && c->visible_ && c->Surface() == surface && PtInRect(&c->bounds_, p)) return c;
  }
  return nullptr;
}

void TControlSet::Track(HWND surface, TControl* over) {
  if (over == hover_) return;
  TControl* old = hover_;
  hover_ = over;
  if (old && old->OnMouseLeave) old->OnMouseLeave();
  if (over) {
    TRACKMOUSEEVENT tme{sizeof tme, TME_LEAVE, surface, 0};
    TrackMouseEvent(&tme);
    if (over->OnMouseEnter) over->OnMouseEnter();
  }
}

void TControlSet::PaintSurface(HWND surface, HDC target) {
  RECT client{};
  GetClientRect(surface, &client);
  // Drawn into memory first, so nothing flickers.
  HDC dc = CreateCompatibleDC(target);
  HBITMAP buffer = CreateCompatibleBitmap(target, client.right, client.bottom);
  HGDIOBJ oldBitmap = SelectObject(dc, buffer);

  TControl* panel = surface == window_ ? nullptr : ByHwnd(surface);
  HBRUSH bg = CreateSolidBrush(panel ? panel->background_ : windowBackground_);
  FillRect(dc, &client, bg);
  DeleteObject(bg);

  SetBkMode(dc, TRANSPARENT);
  for (const auto& c : controls_) {
    if (c->hwnd_ || !c->visible_ || c->Surface() != surface) continue;
    const RECT& r = c->bounds_;
    switch (c->def_.kind) {
      case layout::Kind::Label: {
        HGDIOBJ oldFont = SelectObject(dc, c->font_);
        ::SetTextColor(dc, c->textColor_);
        std::wstring w = win::Wide(c->text_);
        RECT box = r;
        UINT flags = DT_EXPANDTABS | (c->def_.centered ? DT_CENTER : DT_LEFT) |
                     (c->showAccelChar_ ? 0 : DT_NOPREFIX);
        if (c->def_.vcentered) flags |= DT_VCENTER | DT_SINGLELINE;
        DrawTextW(dc, w.c_str(), static_cast<int>(w.size()), &box, flags);
        SelectObject(dc, oldFont);
        break;
      }
      case layout::Kind::Shape: {
        HBRUSH b = CreateSolidBrush(c->background_);
        FillRect(dc, &r, b);
        DeleteObject(b);
        break;
      }
      case layout::Kind::Image: {
        if (!c->bitmap_) break;
        BITMAP bm{};
        GetObjectW(c->bitmap_, sizeof bm, &bm);
        // Centred and fitted with its aspect ratio; made at the control's size it shows 1:1.
        const int w = c->Width(), h = c->Height();
        int dw = w, dh = h;
        if (bm.bmWidth * h > bm.bmHeight * w) dh = MulDiv(bm.bmHeight, w, bm.bmWidth);
        else dw = MulDiv(bm.bmWidth, h, bm.bmHeight);
        HDC src = CreateCompatibleDC(dc);
        HGDIOBJ old = SelectObject(src, c->bitmap_);
        SetStretchBltMode(dc, HALFTONE);
        StretchBlt(dc, r.left + (w - dw) / 2, r.top + (h - dh) / 2, dw, dh, src, 0, 0, bm.bmWidth,
                   bm.bmHeight, SRCCOPY);
        SelectObject(src, old);
        DeleteDC(src);
        break;
      }
      case layout::Kind::PaintBox: {
        if (!c->OnPaint) break;
        const int saved = SaveDC(dc);
        IntersectClipRect(dc, r.left, r.top, r.right, r.bottom);
        SetViewportOrgEx(dc, r.left, r.top, nullptr);
        const RECT local{0, 0, c->Width(), c->Height()};
        c->OnPaint(dc, local);
        RestoreDC(dc, saved);
        break;
      }
      default:
        break;
    }
  }
  if (surface == window_ && OnPaintWindow) OnPaintWindow(dc, client);
  BitBlt(target, 0, 0, client.right, client.bottom, dc, 0, 0, SRCCOPY);
  SelectObject(dc, oldBitmap);
  DeleteObject(buffer);
  DeleteDC(dc);
}

bool TControlSet::HandleSurfaceMessage(HWND surface, UINT msg, WPARAM wp, LPARAM lp, LRESULT* result) {
  switch (msg) {
    case WM_MOUSEMOVE: {
      const POINT p{GET_X_LPARAM(lp), GET_Y_LPARAM(lp)};
      Track(surface, Hit(surface, p));
      return false;
    }
    case WM_MOUSELEAVE:
      if (hover_ && hover_->Surface() == surface) Track(surface, nullptr);
      return false;
    case WM_LBUTTONDOWN: case WM_RBUTTONDOWN: case WM_MBUTTONDOWN: {
      const POINT p{GET_X_LPARAM(lp), GET_Y_LPARAM(lp)};
      TControl* c = Hit(surface, p);
      if (!c) return false;
      if (msg == WM_LBUTTONDOWN) {
        pressed_ = c;
        if (c->OnClick) SetCapture(surface);
      }
      if (c->OnMouseDown) {
        const int button = msg == WM_LBUTTONDOWN ? 0 : msg == WM_RBUTTONDOWN ? 1 : 2;
        c->OnMouseDown(button, p.x - c->Left(), p.y - c->Top());
      }
      *result = 0;
      return true;
    }
    case WM_LBUTTONUP: {
      TControl* c = pressed_;
      pressed_ = nullptr;
      if (GetCapture() == surface) ReleaseCapture();
      const POINT p{GET_X_LPARAM(lp), GET_Y_LPARAM(lp)};
      if (c && c == Hit(surface, p) && c->OnClick) c->OnClick();
      *result = 0;
      return c != nullptr;
    }
    case WM_SETCURSOR: {
      if (LOWORD(lp) != HTCLIENT || reinterpret_cast<HWND>(wp) != surface) return false;
      POINT p{};
      GetCursorPos(&p);
      ScreenToClient(surface, &p);
      TControl* c = Hit(surface, p);
      if (!c || !c->def_.handCursor) return false;
      SetCursor(LoadCursorW(nullptr, IDC_HAND));
      *result = TRUE;
      return true;
    }
    case WM_CTLCOLORSTATIC: case WM_CTLCOLORBTN: {
      TControl* child = ByHwnd(reinterpret_cast<HWND>(lp));
      TControl* panel = surface == window_ ? nullptr : ByHwnd(surface);
      HDC dc = reinterpret_cast<HDC>(wp);
      ::SetTextColor(dc, child ? child->textColor_ : GetSysColor(COLOR_WINDOWTEXT));
      SetBkColor(dc, panel ? panel->background_ : windowBackground_);
      *result = reinterpret_cast<LRESULT>(panel ? panel->backgroundBrush_ : windowBrush_);
      return true;
    }
    case WM_COMMAND: {
      TControl* c = ByHwnd(reinterpret_cast<HWND>(lp));
      if (!c || !c->OnChange) return false;
      const WORD code = HIWORD(wp);
      if ((code == BN_CLICKED && c->def_.kind != layout::Kind::Combo) ||
          (code == CBN_SELCHANGE && c->def_.kind == layout::Kind::Combo) ||
          (code == EN_CHANGE && c->def_.kind == layout::Kind::Edit)) {
        c->OnChange();
        *result = 0;
        return true;
      }
      return false;
    }
    default:
      return false;
  }
}

LRESULT CALLBACK TControlSet::PanelProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  auto* panel = reinterpret_cast<TControl*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!panel) return DefWindowProcW(hwnd, msg, wp, lp);
  TControlSet* set = panel->set_;
  if (msg == WM_ERASEBKGND) return 1;
  if (msg == WM_PAINT) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    set->PaintSurface(hwnd, dc);
    EndPaint(hwnd, &ps);
    return 0;
  }
  LRESULT result = 0;
  if (set->HandleSurfaceMessage(hwnd, msg, wp, lp, &result)) return result;
  // A press on a panel's bare background goes to the window (dragging the window).
  if (panel->OnMouseDown && (msg == WM_LBUTTONDOWN || msg == WM_RBUTTONDOWN || msg == WM_MBUTTONDOWN)) {
    const int button = msg == WM_LBUTTONDOWN ? 0 : msg == WM_RBUTTONDOWN ? 1 : 2;
    panel->OnMouseDown(button, GET_X_LPARAM(lp), GET_Y_LPARAM(lp));
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

}  // namespace qv
