// TfrmMain: creation from the layout, run defaults, painting and the window procedure.
#include "mainform/uMainForm.h"

#include <stdexcept>

#include "app/uBrand.h"
#include "analytics/uAnalytics.h"
#include "app/uLogger.h"
#include "core/strings.h"
#include "l10n/uLang.h"
#include "mainform/images.h"
#include "mainform/layout.h"
#include "platform/platform.h"
#include "platform/win32.h"

namespace qv {
namespace {

constexpr COLORREF kBorder = RGB(0xE1, 0xE1, 0xE1);
constexpr DWORD kStyle = WS_POPUP | WS_CLIPCHILDREN | WS_MINIMIZEBOX | WS_SYSMENU;
constexpr DWORD kExStyle = WS_EX_APPWINDOW | WS_EX_CONTROLPARENT;

UINT SystemDpi() {
  HDC dc = GetDC(nullptr);
  const int dpi = GetDeviceCaps(dc, LOGPIXELSX);
  ReleaseDC(nullptr, dc);
  return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

// GetDpiForWindow exists from Windows 10 1607; bound at run time so older systems still start.
UINT DpiForWindow(HWND hwnd) {
  using Fn = UINT(WINAPI*)(HWND);
  static const Fn fn = reinterpret_cast<Fn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
  const UINT dpi = fn && hwnd ? fn(hwnd) : 0;
  return dpi ? dpi : SystemDpi();
}

std::string_view LayoutText() {
  const auto text = win::RcData(nullptr, brand::kLayoutResource);
  if (!text) throw std::runtime_error("window layout resource missing");
  return *text;
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
  wc.hIconSm = static_cast<HICON>(LoadImageW(FInstance, L"MAINICON", IMAGE_ICON,
                                             GetSystemMetrics(SM_CXSMICON),
                                             GetSystemMetrics(SM_CYSMICON), 0));
  wc.lpszClassName = className.c_str();
  if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
    throw std::runtime_error("cannot register the window class");

  FHandle = CreateWindowExW(kExStyle, className.c_str(), L"", kStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                            def.width, def.height, nullptr, nullptr, FInstance, this);
  if (!FHandle) throw std::runtime_error("cannot create the main window");

  // Sized for the DPI of the monitor it landed on, then centred on the work area.
  const int dpi = static_cast<int>(DpiForWindow(FHandle));
  RECT r{0, 0, layout::Scale(def.width, dpi), layout::Scale(def.height, dpi)};
  AdjustWindowRectEx(&r, kStyle, FALSE, kExStyle);
  const int w = r.right - r.left, h = r.bottom - r.top;
  RECT work{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  SetWindowPos(FHandle, nullptr, work.left + (work.right - work.left - w) / 2,
               work.top + (work.bottom - work.top - h) / 2, w, h, SWP_NOZORDER | SWP_NOACTIVATE);

  FControls = std::make_unique<TControlSet>(FHandle, def, dpi);
  FControls->OnPaintWindow = [this](HDC dc, const RECT& client) { FormPaint(dc, client); };
  BindControls();
  FormCreate();
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
  cbLanguage = &c["cbLanguage"];
  lblLang = &c["lblLang"];
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

void TfrmMain::Show(int showCommand) {
  ShowWindow(FHandle, showCommand);
  UpdateWindow(FHandle);
}

void TfrmMain::LoadResourceImages(const char* resName, TControl& image, COLORREF background) {
  image.SetBitmap(LoadPngResource(resName, image.Width(), image.Height(), background));
}

void TfrmMain::FormCreate() {
  RECT client{};
  GetClientRect(FHandle, &client);
  FCollapsedHeight = client.bottom - client.top;
  SetWindowTextW(FHandle, win::Wide(brand::kWindowCaption).c_str());
  const std::string product(brand::kProductName);
  lblBrand->SetText(product);
  lblProduct->SetText(product);
  lblFinishName->SetText(product);
  lblMin->SetText("\xE2\x80\x93");   // U+2013 en dash
  lblClose->SetText("\xE2\x9C\x95");  // U+2715 multiplication x
  lblSlideTitle->SetShowAccelChar(false);  // an ampersand in a caption shows as itself

  const COLORREF bg = FControls->WindowBackground();
  LoadResourceImages("BRANDPNG", *imgBrand, bg);
  LoadResourceImages("PRODUCTPNG", *imgProduct, bg);
  LoadResourceImages("PRODUCTPNG", *imgFinish, RGB(0xF5, 0xF5, 0xF5));

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

  cbLanguage->OnChange = [this] { cbLanguageChange(); };
  lblPrivacy->OnClick = [] { OpenWebPage(brand::PrivacyUrl()); };
  lblLicense->OnClick = [] { OpenWebPage(brand::LicenseUrl()); };

  ApplyLanguage();
  LogFmt("UI: ready, language=%s, default dir=%s", {CurrentStrings().LangName, edtLocation->Text()});
  TrackEvent(events::kSetupRun, "");
}

void TfrmMain::FormDestroy() {
  // Whatever was downloaded is removed unless it was installed.
  if (!FDone) platform::DeleteFileAt(FDestFile);
  for (HBITMAP& b : FSlides) {
    if (b) DeleteObject(b);
    b = nullptr;
  }
}

void TfrmMain::FormPaint(HDC dc, const RECT& client) {
  // 1-px border on the outermost pixels of the client area.
  HPEN pen = CreatePen(PS_SOLID, 1, kBorder);
  HGDIOBJ oldPen = SelectObject(dc, pen);
  HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(NULL_BRUSH));
  Rectangle(dc, 0, 0, client.right, client.bottom);
  SelectObject(dc, oldBrush);
  SelectObject(dc, oldPen);
  DeleteObject(pen);
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
  return self->WndProc(msg, wp, lp);
}

LRESULT TfrmMain::WndProc(UINT msg, WPARAM wp, LPARAM lp) {
  LRESULT result = 0;
  if (FControls && FControls->HandleSurfaceMessage(FHandle, msg, wp, lp, &result)) return result;
  switch (msg) {
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(FHandle, &ps);
      if (FControls) FControls->PaintSurface(FHandle, dc);
      EndPaint(FHandle, &ps);
      return 0;
    }
    case WM_DESTROY:
      FormDestroy();
      PostQuitMessage(0);
      return 0;
    case WM_NCDESTROY:
      SetWindowLongPtrW(FHandle, GWLP_USERDATA, 0);
      FHandle = nullptr;
      return 0;
    default:
      return DefWindowProcW(FHandle, msg, wp, lp);
  }
}

}  // namespace qv
