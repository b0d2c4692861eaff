#include "mainform/uMainForm.h"

#include "app/uBrand.h"
#include "app/uLogger.h"
#include "core/strings.h"
#include "platform/platform.h"
#include "platform/win32.h"

namespace qv {
namespace {

constexpr int kClientWidth = 640;
constexpr int kClientHeight = 368;
constexpr COLORREF kBackground = RGB(0xF5, 0xF5, 0xF5);
constexpr COLORREF kBorder = RGB(0xE1, 0xE1, 0xE1);
constexpr DWORD kStyle = WS_POPUP | WS_CLIPCHILDREN | WS_MINIMIZEBOX | WS_SYSMENU;

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

}  // namespace

TfrmMain* TfrmMain::Create(HINSTANCE instance) {
  auto* form = new TfrmMain(instance);
  if (!form->CreateWnd()) {
    delete form;
    return nullptr;
  }
  return form;
}

TfrmMain::~TfrmMain() {
  if (FHandle) DestroyWindow(FHandle);
}

int TfrmMain::Scale(int v) const { return MulDiv(v, static_cast<int>(FDpi), 96); }

bool TfrmMain::CreateWnd() {
  const std::wstring className = win::Wide(brand::kWindowClassName);
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.style = CS_DBLCLKS;
  wc.lpfnWndProc = StaticWndProc;
  wc.hInstance = FInstance;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hIcon = LoadIconW(FInstance, L"MAINICON");
  wc.hIconSm = static_cast<HICON>(LoadImageW(FInstance, L"MAINICON", IMAGE_ICON,
                                             GetSystemMetrics(SM_CXSMICON),
                                             GetSystemMetrics(SM_CYSMICON), 0));
  wc.lpszClassName = className.c_str();
  if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;

  // Created at its 96-DPI size, then sized for the monitor it landed on.
  FHandle = CreateWindowExW(WS_EX_APPWINDOW, className.c_str(), L"", kStyle, CW_USEDEFAULT,
                            CW_USEDEFAULT, kClientWidth, kClientHeight, nullptr, nullptr,
                            FInstance, this);
  if (!FHandle) return false;
  FDpi = DpiForWindow(FHandle);
  RECT r{0, 0, Scale(kClientWidth), Scale(kClientHeight)};
  AdjustWindowRectEx(&r, kStyle, FALSE, WS_EX_APPWINDOW);
  const int w = r.right - r.left, h = r.bottom - r.top;
  RECT work{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  SetWindowPos(FHandle, nullptr, work.left + (work.right - work.left - w) / 2,
               work.top + (work.bottom - work.top - h) / 2, w, h, SWP_NOZORDER | SWP_NOACTIVATE);
  FormCreate();
  return true;
}

void TfrmMain::Show(int showCommand) {
  ShowWindow(FHandle, showCommand);
  UpdateWindow(FHandle);
}

void TfrmMain::FormCreate() {
  RECT client{};
  GetClientRect(FHandle, &client);
  FCollapsedHeight = client.bottom - client.top;
  SetWindowTextW(FHandle, win::Wide(brand::kWindowCaption).c_str());

  FDestFile = JoinPath(platform::TempFolder(), brand::kDownloadedInstallerName);
  std::string programFiles = platform::GetEnv("ProgramW6432");
  if (programFiles.empty()) programFiles = platform::GetEnv("ProgramFiles");
  FLocationText = JoinPath(programFiles, brand::kDefaultInstallFolderName);
  FInstallEnabled = true;
}

void TfrmMain::FormDestroy() {
  if (!FDone) platform::DeleteFileAt(FDestFile);
  for (HBITMAP& b : FSlides) {
    if (b) DeleteObject(b);
    b = nullptr;
  }
}

void TfrmMain::FormPaint(HDC dc) {
  RECT r{};
  GetClientRect(FHandle, &r);
  HBRUSH bg = CreateSolidBrush(kBackground);
  FillRect(dc, &r, bg);
  DeleteObject(bg);
  HPEN pen = CreatePen(PS_SOLID, 1, kBorder);
  HGDIOBJ oldPen = SelectObject(dc, pen);
  HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(NULL_BRUSH));
  Rectangle(dc, 0, 0, r.right, r.bottom);
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
  switch (msg) {
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(FHandle, &ps);
      FormPaint(dc);
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
