#include "toolkit/controls.h"

#include <commctrl.h>
#include <windowsx.h>

#include "toolkit/painters.h"

namespace qv {
namespace {

constexpr wchar_t kPanelClass[] = L"TPanel";
constexpr int kFirstControlId = 100;
constexpr UINT_PTR kButtonSubclassId = 1;
constexpr int kComboDropRows = 240;  // 96-DPI height of the opened list

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

bool IsOwnerDrawn(layout::Kind k) { return k == layout::Kind::PaintButton || k == layout::Kind::Link; }

UINT TextAlign(const layout::Control& def) {
  UINT flags = def.centered ? DT_CENTER : DT_LEFT;
  if (def.vcentered) flags |= DT_VCENTER | DT_SINGLELINE;
  return flags;
}

}  // namespace

COLORREF ToColorRef(uint32_t rgb) { return RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF); }

// ---- TControl ---------------------------------------------------------------------------

TControl::~TControl() = default;

HWND TControl::Surface() const { return parent_ ? parent_->hwnd_ : set_->window_; }

bool TControl::Showing() const { return visible_ && (!parent_ || parent_->Showing()); }

RECT TControl::BoundsInWindow() const {
  RECT r = bounds_;
  for (const TControl* p = parent_; p; p = p->parent_) OffsetRect(&r, p->Left(), p->Top());
  return r;
}

void TControl::Invalidate() {
  if (hwnd_) InvalidateRect(hwnd_, nullptr, TRUE);
  else InvalidateRect(Surface(), &bounds_, FALSE);
}

void TControl::SetBounds(int left, int top, int width, int height) {
  if (hwnd_) {
    // A list's window also holds its opened drop-down part.
    const int windowHeight = def_.kind == layout::Kind::Combo ? height + set_->Scale(kComboDropRows) : height;
    MoveWindow(hwnd_, left, top, width, windowHeight, TRUE);
    // The list's closed part takes the layout's height, not its font's (its frame is 6 px).
    if (def_.kind == layout::Kind::Combo && height > 6)
      SendMessageW(hwnd_, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), height - 6);
    bounds_ = {left, top, left + width, top + height};
    return;
  }
  Invalidate();
  bounds_ = {left, top, left + width, top + height};
  Invalidate();
}

void TControl::Autosize() {
  if (!def_.autoSize) return;
  win::WindowDc dc = win::GetWindowDc(Surface());
  win::Selection font = win::Select(dc.get(), font_);
  const std::wstring w = win::Wide(text_);
  RECT r{0, 0, 0, 0};
  if (w.empty()) {
    TEXTMETRICW tm{};
    GetTextMetricsW(dc.get(), &tm);
    r.bottom = tm.tmHeight;
  } else {
    DrawTextW(dc.get(), w.c_str(), static_cast<int>(w.size()), &r,
              DT_CALCRECT | DT_EXPANDTABS | (showAccelChar_ ? 0 : DT_NOPREFIX));
  }
  SetBounds(Left(), Top(), r.right, r.bottom);
}

void TControl::SetText(const std::string& text) {
  text_ = text;
  if (hwnd_) SetWindowTextW(hwnd_, win::Wide(text).c_str());
  Autosize();
  Invalidate();
}

void TControl::SetVisible(bool visible) {
  if (visible_ == visible) return;
  visible_ = visible;
  if (hwnd_) ShowWindow(hwnd_, visible ? SW_SHOWNA : SW_HIDE);
  else Invalidate();
}

bool TControl::Enabled() const { return !hwnd_ || IsWindowEnabled(hwnd_); }

void TControl::SetEnabled(bool enabled) {
  if (hwnd_) EnableWindow(hwnd_, enabled ? TRUE : FALSE);
}

void TControl::SetTabStop(bool stop) {
  if (!hwnd_ || def_.tabOrder < 0) return;
  const LONG_PTR style = GetWindowLongPtrW(hwnd_, GWL_STYLE);
  SetWindowLongPtrW(hwnd_, GWL_STYLE, stop ? (style | WS_TABSTOP) : (style & ~static_cast<LONG_PTR>(WS_TABSTOP)));
}

void TControl::Focus() {
  if (hwnd_) SetFocus(hwnd_);
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

void TControl::SetBitmap(win::GdiObject<HBITMAP> bitmap) {
  ownedBitmap_ = std::move(bitmap);
  shown_ = ownedBitmap_.get();
  Invalidate();
}

void TControl::ShowBitmap(HBITMAP bitmap) {
  ownedBitmap_.reset();
  shown_ = bitmap;
  Invalidate();
}

// ---- TControlSet ------------------------------------------------------------------------

TControlSet::TControlSet(HWND window, const layout::Form& form, int dpi)
    : window_(window), dpi_(dpi), form_(form) {
  windowBackground_ = ResolveColor(form.background, GetSysColor(COLOR_BTNFACE));
  windowBrush_.reset(CreateSolidBrush(windowBackground_));
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
    if (layout::IsWindowed(def.kind)) CreateWindowed(*c, id++);
    c->Autosize();
    byName_[def.name] = c.get();
    controls_.push_back(std::move(c));
  }
  // Tab order follows the layout's numbers within each parent: the dialog manager walks the
  // children in z-order.
  for (int order = 20; order >= 0; --order)
    for (const auto& c : controls_)
      if (c->hwnd_ && c->def_.tabOrder == order) c->BringToFront();
}

void TControlSet::CreateWindowed(TControl& c, int id) {
  const layout::Control& def = c.def_;
  const wchar_t* cls = WC_BUTTONW;
  DWORD style = WS_CHILD | WS_CLIPSIBLINGS | (def.visible ? WS_VISIBLE : 0);
  DWORD exStyle = 0;
  int h = c.Height();
  switch (def.kind) {
    case layout::Kind::Panel:
      cls = kPanelClass;
      style |= WS_CLIPCHILDREN;
      exStyle |= WS_EX_CONTROLPARENT;  // Tab walks into the panel's own controls
      break;
    case layout::Kind::CheckBox: style |= BS_AUTOCHECKBOX; break;
    case layout::Kind::Button: style |= BS_PUSHBUTTON; break;
    case layout::Kind::PaintButton: case layout::Kind::Link: style |= BS_OWNERDRAW; break;
    case layout::Kind::Edit:
      cls = WC_EDITW;
      style |= ES_AUTOHSCROLL;
      exStyle |= WS_EX_CLIENTEDGE;
      break;
    case layout::Kind::Combo:
      cls = WC_COMBOBOXW;
      style |= CBS_DROPDOWNLIST | WS_VSCROLL;
      h += Scale(kComboDropRows);
      break;
    case layout::Kind::Progress: cls = PROGRESS_CLASSW; break;
    default: break;
  }
  if (def.tabOrder >= 0) style |= WS_TABSTOP;
  const HWND parentHwnd = c.parent_ ? c.parent_->hwnd_ : window_;
  const HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window_, GWLP_HINSTANCE));
  c.hwnd_ = CreateWindowExW(exStyle, cls, L"", style, c.Left(), c.Top(), c.Width(), h, parentHwnd,
                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
  SendMessageW(c.hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(c.font_), FALSE);
  if (def.kind == layout::Kind::Combo && c.Height() > 6)
    SendMessageW(c.hwnd_, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), c.Height() - 6);
  switch (def.kind) {
    case layout::Kind::Panel:
      c.backgroundBrush_.reset(CreateSolidBrush(c.background_));
      SetWindowLongPtrW(c.hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&c));
      break;
    case layout::Kind::Progress: SendMessageW(c.hwnd_, PBM_SETRANGE32, 0, def.max); break;
    case layout::Kind::CheckBox:
      if (def.checked) SendMessageW(c.hwnd_, BM_SETCHECK, BST_CHECKED, 0);
      break;
    case layout::Kind::PaintButton: case layout::Kind::Link:
      SetWindowSubclass(c.hwnd_, ButtonSubclassProc, kButtonSubclassId, reinterpret_cast<DWORD_PTR>(&c));
      break;
    default: break;
  }
}

TControlSet::~TControlSet() {
  for (auto& c : controls_) {
    if (!c->hwnd_) continue;
    if (c->def_.kind == layout::Kind::Panel) SetWindowLongPtrW(c->hwnd_, GWLP_USERDATA, 0);
    if (IsOwnerDrawn(c->def_.kind)) RemoveWindowSubclass(c->hwnd_, ButtonSubclassProc, kButtonSubclassId);
  }
  controls_.clear();
  ClearFonts();
}

void TControlSet::ClearFonts() {
  fonts_.clear();
  windowFont_ = nullptr;
}

HFONT TControlSet::FontFor(const layout::Font& f) {
  const std::string key = f.face + "|" + std::to_string(f.size) + "|" + (f.bold ? "b" : "") +
                          (f.underline ? "u" : "");
  if (auto it = fonts_.find(key); it != fonts_.end()) return it->second.get();
  // A negative height asks for the character height in pixels.
  HFONT font = CreateFontW(-Scale(f.size), 0, 0, 0, f.bold ? FW_BOLD : FW_NORMAL, FALSE,
                           f.underline ? TRUE : FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                           CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH, win::Wide(f.face).c_str());
  fonts_[key].reset(font);
  return font;
}

HFONT TControlSet::PointFont(int points) {
  const std::string key = form_.font.face + "|pt" + std::to_string(points);
  if (auto it = fonts_.find(key); it != fonts_.end()) return it->second.get();
  HFONT font = CreateFontW(-layout::PointsToPixels(points, dpi_), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                           DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                           DEFAULT_PITCH, win::Wide(form_.font.face).c_str());
  fonts_[key].reset(font);
  return font;
}

void TControlSet::Rescale(int dpi) {
  // The old fonts stay alive until every control has its new one.
  std::map<std::string, win::GdiObject<HFONT>> old;
  old.swap(fonts_);
  dpi_ = dpi;
  windowFont_ = FontFor(form_.font);
  for (auto& c : controls_) {
    const layout::Control& def = c->def_;
    c->font_ = FontFor(def.font);
    if (c->hwnd_) SendMessageW(c->hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(c->font_), FALSE);
    c->SetBounds(Scale(def.left), Scale(def.top), Scale(def.width), Scale(def.height));
    c->Autosize();
  }
  old.clear();
  InvalidateRect(window_, nullptr, TRUE);
}

void TControlSet::ShowFocusCues() {
  if (focusCues_) return;
  focusCues_ = true;
  for (auto& c : controls_)
    if (c->hwnd_ && IsOwnerDrawn(c->def_.kind)) c->Invalidate();
}

TControl* TControlSet::Find(const std::string& name) const {
  auto it = byName_.find(name);
  return it == byName_.end() ? nullptr : it->second;
}

TControl& TControlSet::operator[](const std::string& name) const { return *byName_.at(name); }

TControl* TControlSet::ByHwnd(HWND hwnd) const {
  if (!hwnd) return nullptr;
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

void TControlSet::Track(HWND tracked, TControl* over) {
  if (over == hover_) return;
  TControl* old = hover_;
  hover_ = over;
  if (old && old->OnMouseLeave) old->OnMouseLeave();
  if (over) {
    TRACKMOUSEEVENT tme{sizeof tme, TME_LEAVE, tracked, 0};
    TrackMouseEvent(&tme);
    if (over->OnMouseEnter) over->OnMouseEnter();
  }
}

void TControlSet::PaintSurface(HWND surface, HDC target) {
  RECT client{};
  GetClientRect(surface, &client);
  // Drawn into memory first, so nothing flickers.
  win::MemoryDc dc = win::CreateMemoryDc(target);
  win::GdiObject<HBITMAP> buffer(CreateCompatibleBitmap(target, client.right, client.bottom));
  win::Selection bufferSel = win::Select(dc.get(), buffer.get());

  TControl* panel = surface == window_ ? nullptr : ByHwnd(surface);
  paint::Shape(dc.get(), client, panel ? panel->background_ : windowBackground_);
  SetBkMode(dc.get(), TRANSPARENT);
  for (const auto& c : controls_) {
    if (c->hwnd_ || !c->visible_ || c->Surface() != surface) continue;
    const RECT& r = c->bounds_;
    switch (c->def_.kind) {
      case layout::Kind::Label:
        paint::Label(dc.get(), r, c->text_, c->font_, c->textColor_, TextAlign(c->def_), c->showAccelChar_);
        break;
      case layout::Kind::Shape: paint::Shape(dc.get(), r, c->background_); break;
      case layout::Kind::Image: paint::Image(dc.get(), r, c->shown_); break;
      case layout::Kind::PaintBox: {
        if (!c->OnPaint) break;
        const int saved = SaveDC(dc.get());
        IntersectClipRect(dc.get(), r.left, r.top, r.right, r.bottom);
        SetViewportOrgEx(dc.get(), r.left, r.top, nullptr);
        c->OnPaint(TPaintArgs{dc.get(), RECT{0, 0, c->Width(), c->Height()}, false, false});
        RestoreDC(dc.get(), saved);
        break;
      }
      default: break;
    }
  }
  if (surface == window_ && OnPaintWindow) OnPaintWindow(dc.get(), client);
  BitBlt(target, 0, 0, client.right, client.bottom, dc.get(), 0, 0, SRCCOPY);
}

void TControlSet::DrawItem(const DRAWITEMSTRUCT& item) {
  TControl* c = ByHwnd(item.hwndItem);
  if (!c) return;
  const int w = item.rcItem.right - item.rcItem.left, h = item.rcItem.bottom - item.rcItem.top;
  win::MemoryDc dc = win::CreateMemoryDc(item.hDC);
  win::GdiObject<HBITMAP> buffer(CreateCompatibleBitmap(item.hDC, w, h));
  win::Selection bufferSel = win::Select(dc.get(), buffer.get());
  const RECT r{0, 0, w, h};
  // The parent's background shows wherever the control paints nothing.
  paint::Shape(dc.get(), r, c->parent_ ? c->parent_->background_ : windowBackground_);
  SetBkMode(dc.get(), TRANSPARENT);
  // The focus cue shows once the keyboard has been used, as on the system's own buttons.
  const bool focusCue = (item.itemState & ODS_FOCUS) && !(item.itemState & ODS_NOFOCUSRECT) && focusCues_;
  if (c->def_.kind == layout::Kind::Link) {
    paint::Link(dc.get(), r, c->text_, c->font_, c->textColor_, TextAlign(c->def_), focusCue);
  } else if (c->OnPaint) {
    c->OnPaint(TPaintArgs{dc.get(), r, focusCue, (item.itemState & ODS_SELECTED) != 0});
  }
  BitBlt(item.hDC, item.rcItem.left, item.rcItem.top, w, h, dc.get(), 0, 0, SRCCOPY);
}

bool TControlSet::HandleSurfaceMessage(HWND surface, UINT msg, WPARAM wp, LPARAM lp, LRESULT* result) {
  switch (msg) {
    case WM_MOUSEMOVE: {
      const POINT p{GET_X_LPARAM(lp), GET_Y_LPARAM(lp)};
      Track(surface, Hit(surface, p));
      return false;
    }
    case WM_MOUSELEAVE:
      if (hover_ && !hover_->hwnd_ && hover_->Surface() == surface) Track(surface, nullptr);
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
      if (LOWORD(lp) != HTCLIENT) return false;
      const HWND over = reinterpret_cast<HWND>(wp);
      TControl* c = nullptr;
      if (over == surface) {
        POINT p{};
        GetCursorPos(&p);
        ScreenToClient(surface, &p);
        c = Hit(surface, p);
      } else {
        c = ByHwnd(over);  // a windowed control asks its parent first
      }
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
      *result = reinterpret_cast<LRESULT>(panel ? panel->backgroundBrush_.get() : windowBrush_.get());
      return true;
    }
    case WM_DRAWITEM: {
      const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lp);
      if (!item || item->CtlType != ODT_BUTTON || !ByHwnd(item->hwndItem)) return false;
      DrawItem(*item);
      *result = TRUE;
      return true;
    }
    case WM_COMMAND: {
      TControl* c = ByHwnd(reinterpret_cast<HWND>(lp));
      if (!c) return false;
      const WORD code = HIWORD(wp);
      if (IsOwnerDrawn(c->def_.kind)) {
        // A double click's second press is not a second click.
        if (code != BN_CLICKED) return false;
        if (c->OnClick) c->OnClick();
        *result = 0;
        return true;
      }
      if (code == EN_CHANGE && c->def_.kind == layout::Kind::Edit) {
        // What the user types is the control's text: the owner reads Text(), never the window.
        std::wstring typed(static_cast<size_t>(GetWindowTextLengthW(c->hwnd_)) + 1, L'\0');
        typed.resize(static_cast<size_t>(GetWindowTextW(c->hwnd_, typed.data(), static_cast<int>(typed.size()))));
        c->text_ = win::Narrow(typed);
      }
      if (!c->OnChange) return false;
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

LRESULT CALLBACK TControlSet::ButtonSubclassProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR,
                                                 DWORD_PTR data) {
  auto* c = reinterpret_cast<TControl*>(data);
  TControlSet* set = c->set_;
  switch (msg) {
    case WM_GETDLGCODE: {
      // Enter presses the focused control itself rather than the dialog's default button.
      const auto* m = reinterpret_cast<const MSG*>(lp);
      if (m && m->message == WM_KEYDOWN && m->wParam == VK_RETURN) return DLGC_WANTMESSAGE | DLGC_BUTTON;
      break;
    }
    case WM_KEYDOWN:
      if (wp == VK_RETURN) {
        SendMessageW(GetParent(hwnd), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(hwnd), BN_CLICKED),
                     reinterpret_cast<LPARAM>(hwnd));
        return 0;
      }
      break;
    case WM_MOUSEMOVE:
      set->Track(hwnd, c);
      break;
    case WM_MOUSELEAVE:
      if (set->hover_ == c) set->Track(hwnd, nullptr);
      break;
    case WM_LBUTTONDBLCLK:
      // Treated as a press, so a quick second click still shows the button pressed.
      return DefSubclassProc(hwnd, WM_LBUTTONDOWN, wp, lp);
    default:
      break;
  }
  return DefSubclassProc(hwnd, msg, wp, lp);
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
  // A press on a panel's bare background is the panel's own (dragging the window).
  if (panel->OnMouseDown && (msg == WM_LBUTTONDOWN || msg == WM_RBUTTONDOWN || msg == WM_MBUTTONDOWN)) {
    const int button = msg == WM_LBUTTONDOWN ? 0 : msg == WM_RBUTTONDOWN ? 1 : 2;
    panel->OnMouseDown(button, GET_X_LPARAM(lp), GET_Y_LPARAM(lp));
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

}  // namespace qv
