// TfrmMain: creation from the layout, run defaults, the borderless frame (DWM, border, dragging,
// caption glyphs), the move to a monitor of another DPI, and the window procedure.
#include "mainform/uMainForm.h"

#include <uxtheme.h>

#include <stdexcept>

#include "analytics/uAnalytics.h"
#include "app/uBrand.h"
#include "app/uLogger.h"
#include "core/strings.h"
#include "l10n/uLang.h"
#include "mainform/layout.h"
#include "platform/platform.h"
#include "platform/win32.h"
#include "toolkit/painters.h"

namespace qv {
namespace {

constexpr COLORREF kBorder = RGB(0xE1, 0xE1, 0xE1);
constexpr COLORREF kGlyphColor = RGB(0x66, 0x66, 0x66);
// A borderless pop-up that still has a system menu and a taskbar button that minimises it.
constexpr DWORD kStyle = WS_POPUP | WS_CLIPCHILDREN | WS_MINIMIZEBOX | WS_SYSMENU;
constexpr DWORD kExStyle = WS_EX_APPWINDOW | WS_EX_CONTROLPARENT;

enum : UINT_PTR { kTimerInstall = 1, kTimerSlides = 2, kTimerRetry = 3 };

UINT SystemDpi() {
  win::WindowDc dc = win::GetWindowDc(nullptr);
  const int dpi = GetDeviceCaps(dc.get(), LOGPIXELSX);
  return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

// A system DLL's function, bound when first needed and only from the system folder.
template <class Fn>
Fn SystemFunction(const wchar_t* dll, const char* name) {
  HMODULE module = GetModuleHandleW(dll);
  if (!module) module = LoadLibraryExW(dll, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  return module ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}

// GetDpiForWindow exists from Windows 10 1607.
UINT DpiForWindow(HWND hwnd) {
  using Fn = UINT(WINAPI*)(HWND);
  static const Fn fn = SystemFunction<Fn>(L"user32.dll", "GetDpiForWindow");
  const UINT dpi = fn && hwnd ? fn(hwnd) : 0;
  return dpi ? dpi : SystemDpi();
}

std::string_view LayoutText() {
  const auto text = win::RcData(nullptr, brand::kLayoutResource);
  if (!text) throw std::runtime_error("window layout resource missing");
  return *text;
}

// The window rectangle whose client area is width x height.
SIZE WindowSizeFor(int width, int height) {
  RECT r{0, 0, width, height};
  AdjustWindowRectEx(&r, kStyle, FALSE, kExStyle);
  return {r.right - r.left, r.bottom - r.top};
}

}  // namespace

std::unique_ptr<TfrmMain> TfrmMain::Create(HINSTANCE instance) {
  std::unique_ptr<TfrmMain> form(new TfrmMain(instance));
  form->CreateWnd();
  return form;
}

TfrmMain::~TfrmMain() {
  if (FHandle) DestroyWindow(FHandle);
}

void TfrmMain::CreateWnd() {
  const layout::Form def = layout::Parse(LayoutText());
  const std::wstring className = win::Wide(brand::kWindowClassName);
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = StaticWndProc;
  wc.hInstance = FInstance;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hIcon = static_cast<HICON>(LoadImageW(FInstance, L"MAINICON", IMAGE_ICON, GetSystemMetrics(SM_CXICON),
                                           GetSystemMetrics(SM_CYICON), 0));
  wc.hIconSm = static_cast<HICON>(LoadImageW(FInstance, L"MAINICON", IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                             GetSystemMetrics(SM_CYSMICON), 0));
  wc.lpszClassName = className.c_str();
  if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
    throw std::runtime_error("cannot register the window class");

  FHandle = CreateWindowExW(kExStyle, className.c_str(), L"", kStyle, CW_USEDEFAULT, CW_USEDEFAULT, def.width,
                            def.height, nullptr, nullptr, FInstance, this);
  if (!FHandle) throw std::runtime_error("cannot create the main window");
  // The frame result only says whether the system draws a shadow; the window works either way.
  (void)ApplyWindowFrame();

  // Sized for the DPI of the monitor it landed on, then centred on the work area.
  FDpi = static_cast<int>(DpiForWindow(FHandle));
  const SIZE size = WindowSizeFor(layout::Scale(def.width, FDpi), layout::Scale(def.height, FDpi));
  RECT work{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  SetWindowPos(FHandle, nullptr, work.left + (work.right - work.left - size.cx) / 2,
               work.top + (work.bottom - work.top - size.cy) / 2, size.cx, size.cy, SWP_NOZORDER | SWP_NOACTIVATE);

  FControls = std::make_unique<TControlSet>(FHandle, def, FDpi);
  FControls->OnPaintWindow = [this](HDC dc, const RECT& client) { FormPaint(dc, client); };
  tmrInstall = std::make_unique<TTimer>(FHandle, kTimerInstall, 500);
  tmrSlides = std::make_unique<TTimer>(FHandle, kTimerSlides, 3500);
  FRetryTimer = std::make_unique<TTimer>(FHandle, kTimerRetry, 1000);
  for (const layout::Timer& t : def.timers) {
    if (t.name == "tmrInstall") tmrInstall->SetInterval(static_cast<UINT>(t.interval));
    if (t.name == "tmrSlides") tmrSlides->SetInterval(static_cast<UINT>(t.interval));
  }
  BindControls();
  BindEvents();
  FormCreate();
}

bool TfrmMain::ApplyWindowFrame() {
  using SetAttribute = HRESULT(WINAPI*)(HWND, DWORD, LPCVOID, DWORD);
  using IsComposition = HRESULT(WINAPI*)(BOOL*);
  using ExtendFrame = HRESULT(WINAPI*)(HWND, const MARGINS*);
  static const auto setAttribute = SystemFunction<SetAttribute>(L"dwmapi.dll", "DwmSetWindowAttribute");
  static const auto isComposition = SystemFunction<IsComposition>(L"dwmapi.dll", "DwmIsCompositionEnabled");
  static const auto extendFrame = SystemFunction<ExtendFrame>(L"dwmapi.dll", "DwmExtendFrameIntoClientArea");
  if (!setAttribute || !isComposition || !extendFrame) return false;
  const DWORD policy = 2;  // DWMNCRP_ENABLED
  if (FAILED(setAttribute(FHandle, 2 /* DWMWA_NCRENDERING_POLICY */, &policy, sizeof policy))) return false;
  BOOL composition = FALSE;
  if (FAILED(isComposition(&composition)) || !composition) return false;
  const MARGINS margins{0, 0, 0, 1};
  return SUCCEEDED(extendFrame(FHandle, &margins));
}

void TfrmMain::BindControls() {
  TControlSet& c = *FControls;
  imgBrand = &c["imgBrand"];
  lblBrand = &c["lblBrand"];
  lblMin = &c["lblMin"];
  lblClose = &c["lblClose"];
  imgProduct = &c["imgProduct"];
  lblProduct = &c["lblProduct"];
  pbInstall = &c["pbInstall"];
  lblStatus = &c["lblStatus"];
  lblDetail = &c["lblDetail"];
  lblOffline = &c["lblOffline"];
  chkAccept = &c["chkAccept"];
  lblPrivacy = &c["lblPrivacy"];
  lblAnd = &c["lblAnd"];
  lblLicense = &c["lblLicense"];
  lblSettings = &c["lblSettings"];
  pnlSettings = &c["pnlSettings"];
  shpDivider = &c["shpDivider"];
  lblLang = &c["lblLang"];
  cbLanguage = &c["cbLanguage"];
  lblPath = &c["lblPath"];
  edtLocation = &c["edtLocation"];
  btnBrowse = &c["btnBrowse"];
  pnlInstallView = &c["pnlInstallView"];
  pnlBanner = &c["pnlBanner"];
  lblSlideTitle = &c["lblSlideTitle"];
  imgSlide = &c["imgSlide"];
  pbDots = &c["pbDots"];
  pbInstProgress = &c["pbInstProgress"];
  lblInst1 = &c["lblInst1"];
  lblInstPct = &c["lblInstPct"];
  btnHide = &c["btnHide"];
  pnlFinishView = &c["pnlFinishView"];
  imgFinish = &c["imgFinish"];
  lblFinishName = &c["lblFinishName"];
  pbStart = &c["pbStart"];
}

void TfrmMain::BindEvents() {
  // Every drag source moves the window; nothing else does.
  for (TControl* source : {imgBrand, lblBrand, imgProduct, lblProduct, pnlInstallView, pnlBanner, lblSlideTitle,
                           imgSlide, pnlFinishView, imgFinish, lblFinishName})
    source->OnMouseDown = [this](int button, int, int) { DragMouseDown(button); };
  for (TControl* glyph : {lblMin, lblClose}) {
    glyph->OnMouseEnter = [this, glyph] { CaptionGlyphMouseEnter(*glyph); };
    glyph->OnMouseLeave = [this, glyph] { CaptionGlyphMouseLeave(*glyph); };
  }
  lblMin->OnClick = [this] { lblMinClick(); };
  lblClose->OnClick = [this] { lblCloseClick(); };
  btnHide->OnChange = [this] { btnHideClick(); };

  pbInstall->OnPaint = [this](const TPaintArgs& a) { pbInstallPaint(a); };
  pbInstall->OnMouseEnter = [this] { pbInstallMouseEnter(); };
  pbInstall->OnMouseLeave = [this] { pbInstallMouseLeave(); };
  pbInstall->OnClick = [this] { pbInstallClick(); };
  pbStart->OnPaint = [this](const TPaintArgs& a) { pbStartPaint(a); };
  pbStart->OnMouseEnter = [this] { pbStartMouseEnter(); };
  pbStart->OnMouseLeave = [this] { pbStartMouseLeave(); };
  pbStart->OnClick = [this] { pbStartClick(); };
  chkAccept->OnChange = [this] { chkAcceptClick(); };
  lblSettings->OnClick = [this] { lblSettingsClick(); };
  lblPrivacy->OnClick = [this] { lblPrivacyClick(); };
  lblLicense->OnClick = [this] { lblLicenseClick(); };
  lblOffline->OnClick = [this] { lblOfflineClick(); };
  cbLanguage->OnChange = [this] { cbLanguageChange(); };
  btnBrowse->OnChange = [this] { btnBrowseClick(); };
  pbDots->OnPaint = [this](const TPaintArgs& a) { pbDotsPaint(a); };
  pbDots->OnMouseDown = [this](int, int x, int) { pbDotsMouseDown(x); };

  tmrInstall->OnTimer = [this] { tmrInstallTimer(); };
  tmrSlides->OnTimer = [this] { tmrSlidesTimer(); };
  FRetryTimer->OnTimer = [this] { RetryTimerFired(); };
}

void TfrmMain::PreTranslateMessage(const MSG& msg) {
  // Focus cues stay hidden until the keyboard is used, as in the system's own dialogs.
  if ((msg.message == WM_KEYDOWN || msg.message == WM_SYSKEYDOWN) && FControls) FControls->ShowFocusCues();
}

void TfrmMain::Show(int showCommand) {
  ShowWindow(FHandle, showCommand);
  UpdateWindow(FHandle);
}

void TfrmMain::FormCreate() {
  FSelf = std::make_shared<TfrmMain*>(this);
  FCollapsedHeight = ClientHeight();
  SetWindowTextW(FHandle, win::Wide(brand::kWindowCaption).c_str());
  const std::string product(brand::kProductName);
  lblBrand->SetText(product);
  lblProduct->SetText(product);
  lblFinishName->SetText(product);
  lblMin->SetText("\xE2\x80\x93");   // U+2013 en dash
  lblClose->SetText("\xE2\x9C\x95");  // U+2715 multiplication x
  lblSlideTitle->SetShowAccelChar(false);  // an ampersand in a caption shows as itself

  LoadImages();
  LayoutBanner();

  // The language list holds the nine names in table order: an entry's position is its index.
  for (const TUIStrings& s : UIStringsTable)
    SendMessageW(cbLanguage->Hwnd(), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(win::Wide(s.LangName).c_str()));
  FLangIndex = DetectLanguageIndex();
  SendMessageW(cbLanguage->Hwnd(), CB_SETCURSEL, static_cast<WPARAM>(FLangIndex), 0);

  FDestFile = JoinPath(platform::TempFolder(), brand::kDownloadedInstallerName);
  std::string programFiles = platform::GetEnv("ProgramW6432");
  if (programFiles.empty()) programFiles = platform::GetEnv("ProgramFiles");
  edtLocation->SetText(JoinPath(programFiles, brand::kDefaultInstallFolderName));
  FInstallEnabled = SendMessageW(chkAccept->Hwnd(), BM_GETCHECK, 0, 0) == BST_CHECKED;
  lblStatus->SetText("");
  lblDetail->SetText("");

  ApplyLanguage();
  LogFmt("UI: ready, language=%s, default dir=%s", {CurrentStrings().LangName, edtLocation->Text()});
  TrackEvent(events::kSetupRun, "");
}

void TfrmMain::FormDestroy() {
  // Reports of a worker still under way now find no window.
  FSelf.reset();
  tmrInstall->SetEnabled(false);
  tmrSlides->SetEnabled(false);
  FRetryTimer->SetEnabled(false);
  ReleaseActivity();
  FInstallProcess.reset();
  FInstallerFile.reset();
  // Whatever was downloaded is removed unless it was installed.
  if (!FDone) platform::DeleteFileAt(FDestFile);
  imgSlide->ShowBitmap(nullptr);
  for (auto& b : FSlides) b.reset();
}

void TfrmMain::FormPaint(HDC dc, const RECT& client) { paint::Border(dc, client.right, client.bottom, kBorder); }

void TfrmMain::DragMouseDown(int Button) {
  if (Button != 0) return;
  // The system's move loop takes over as if the caption bar had been pressed.
  ReleaseCapture();
  SendMessageW(FHandle, WM_NCLBUTTONDOWN, HTCAPTION, 0);
}

void TfrmMain::CaptionGlyphMouseEnter(TControl& Sender) { Sender.SetTextColor(ToColorRef(brand::kAccentColor)); }

void TfrmMain::CaptionGlyphMouseLeave(TControl& Sender) { Sender.SetTextColor(kGlyphColor); }

void TfrmMain::lblMinClick() { ShowWindow(FHandle, SW_MINIMIZE); }

void TfrmMain::lblCloseClick() { Close(); }

void TfrmMain::btnHideClick() { lblMinClick(); }

void TfrmMain::Close() { PostMessageW(FHandle, WM_CLOSE, 0, 0); }

int TfrmMain::ClientHeight() const {
  RECT client{};
  GetClientRect(FHandle, &client);
  return client.bottom - client.top;
}

void TfrmMain::SetClientHeight(int height) {
  RECT client{};
  GetClientRect(FHandle, &client);
  const SIZE size = WindowSizeFor(client.right, height);
  // The top edge stays: the window grows and shrinks at the bottom.
  SetWindowPos(FHandle, nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TfrmMain::FormDpiChanged(int dpi, const RECT* suggested) {
  // The DPI comes from the message: the system may still report the old one for a while.
  FDpi = dpi;
  FControls->Rescale(dpi);
  const layout::Form& def = FControls->Form();
  FCollapsedHeight = layout::Scale(def.height, dpi);
  LoadImages();
  LayoutBanner();
  imgSlide->ShowBitmap(FSlides[static_cast<size_t>(FSlideIndex)].get());
  LayoutAcceptLine();
  SetInstallStatus(lblInst1->Text(), lblInstPct->Text());
  if (pnlFinishView->Visible()) ShowFinishView();
  const int height = pnlSettings->Visible()
                         ? layout::ExtendedClientHeight(pnlSettings->Top(), pnlSettings->Height())
                         : FCollapsedHeight;
  const SIZE size = WindowSizeFor(layout::Scale(def.width, dpi), height);
  RECT now{};
  GetWindowRect(FHandle, &now);
  const POINT at = suggested ? POINT{suggested->left, suggested->top} : POINT{now.left, now.top};
  SetWindowPos(FHandle, nullptr, at.x, at.y, size.cx, size.cy, SWP_NOZORDER | SWP_NOACTIVATE);
  // The settings link keeps its margin from the new client width, so only now that it exists.
  PlaceSettingsLink();
  InvalidateRect(FHandle, nullptr, TRUE);
}

LRESULT CALLBACK TfrmMain::StaticWndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  TfrmMain* self = nullptr;
  if (msg == WM_NCCREATE) {
    self = static_cast<TfrmMain*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
    self->FHandle = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  } else {
    self = reinterpret_cast<TfrmMain*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  }
  if (!self) return DefWindowProcW(hwnd, msg, wp, lp);
  try {
    return self->WndProc(msg, wp, lp);
  } catch (const std::exception& e) {
    // Nothing may unwind through the system's code; the window goes on.
    LogFmt("UI: error in message %d: %s", {static_cast<unsigned>(msg), e.what()});
    return DefWindowProcW(hwnd, msg, wp, lp);
  }
}

LRESULT TfrmMain::WndProc(UINT msg, WPARAM wp, LPARAM lp) {
  LRESULT result = 0;
  if (HandleTestMessage(msg, wp, lp, &result)) return result;
  if (FControls && FControls->HandleSurfaceMessage(FHandle, msg, wp, lp, &result)) return result;
  switch (msg) {
    case WM_DWMCOMPOSITIONCHANGED:
    case WM_DWMNCRENDERINGCHANGED:
      if (ApplyWindowFrame()) return 0;
      break;
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(FHandle, &ps);
      if (FControls) FControls->PaintSurface(FHandle, dc);
      EndPaint(FHandle, &ps);
      return 0;
    }
    case WM_LBUTTONDOWN: case WM_RBUTTONDOWN: case WM_MBUTTONDOWN:
      // The window's bare background is a drag source.
      DragMouseDown(msg == WM_LBUTTONDOWN ? 0 : msg == WM_RBUTTONDOWN ? 1 : 2);
      return 0;
    case WM_TIMER:
      if (tmrInstall && (tmrInstall->Fire(wp) || tmrSlides->Fire(wp) || FRetryTimer->Fire(wp))) return 0;
      break;
    case WM_COMMAND:
      // Esc, through the dialog manager, acts as the close glyph.
      if (LOWORD(wp) == IDCANCEL && HIWORD(wp) == 0) {
        lblCloseClick();
        return 0;
      }
      break;
    case WM_CLOSE:
      if (FormCloseQuery()) DestroyWindow(FHandle);
      return 0;
    case WM_QUERYENDSESSION:
      return FormCloseQuery() ? TRUE : FALSE;
    case WM_ENDSESSION:
      if (wp) DestroyWindow(FHandle);
      return 0;
    case WM_ACTIVATE:
      // A plain window takes the focus itself when it is activated again (after a message box,
      // the folder picker or another program); the control that had it gets it back instead.
      if (LOWORD(wp) == WA_INACTIVE) {
        const HWND focus = GetFocus();
        FFocusBeforeDeactivate = focus && IsChild(FHandle, focus) ? focus : nullptr;
      } else if (!HIWORD(wp) && FFocusBeforeDeactivate && IsWindow(FFocusBeforeDeactivate) &&
                 IsWindowVisible(FFocusBeforeDeactivate) && IsWindowEnabled(FFocusBeforeDeactivate)) {
        SetFocus(FFocusBeforeDeactivate);
        return 0;
      }
      break;
    case WM_DPICHANGED:
      FormDpiChanged(LOWORD(wp), reinterpret_cast<const RECT*>(lp));
      return 0;
    case WM_DESTROY:
      FormDestroy();
      PostQuitMessage(0);
      return 0;
    case WM_NCDESTROY:
      SetWindowLongPtrW(FHandle, GWLP_USERDATA, 0);
      FHandle = nullptr;
      return 0;
    default:
      break;
  }
  return DefWindowProcW(FHandle, msg, wp, lp);
}

#ifndef QV_TEST_HOOKS
bool TfrmMain::HandleTestMessage(UINT, WPARAM, LPARAM, LRESULT*) { return false; }
#endif

}  // namespace qv
