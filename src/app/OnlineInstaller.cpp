// Program entry: the process-wide services, the single-instance rule, the window and its
// message loop, and the services' end in reverse order.
#include <windows.h>

#include <commctrl.h>
#include <gdiplus.h>
#include <objbase.h>

#include <memory>
#include <stdexcept>

#include "analytics/uAnalytics.h"
#include "app/uBrand.h"
#include "app/uLogger.h"
#include "l10n/uLang.h"
#include "download/uDownloader.h"
#include "mainform/uMainForm.h"
#include "platform/dll_search.h"
#include "platform/ui_thread.h"
#include "platform/win32.h"

using namespace qv;

namespace {

// Hands the user over to the copy that already runs: restore it when minimised and bring it
// to the foreground.  Returns whether a window was found.
bool ActivateRunningCopy() {
  HWND other = FindWindowW(win::Wide(brand::kWindowClassName).c_str(),
                           win::Wide(brand::kWindowCaption).c_str());
  if (!other) return false;
  if (IsIconic(other)) ShowWindow(other, SW_RESTORE);
  SetForegroundWindow(other);
  return true;
}

// A download cancelled by a second close may still be reporting: its calls keep running on
// this thread for a short while, so that it never writes to a log that has been closed.
void WaitForCancelledDownload(DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  while (TDownloadThread::Running() > 0 && GetTickCount() - start < timeoutMs) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
  }
  if (TDownloadThread::Running() > 0) Log("UI: download worker still stopping at exit");
}

// The exit code of the run: 0, or 1 when the window could not be made.
int RunApplication(HINSTANCE instance, int showCommand) {
  int exitCode = 0;
  const INITCOMMONCONTROLSEX icc{sizeof(INITCOMMONCONTROLSEX), ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&icc);
  // The folder picker is a COM object of this (user-interface) thread.
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  ui::InitUiThread();
  try {
    std::unique_ptr<TfrmMain> form = TfrmMain::Create(instance);
    form->Show(showCommand);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
      form->PreTranslateMessage(msg);
      // Tab and the arrow keys move between the window's controls, Esc closes.
      if (form->Handle() && IsDialogMessageW(form->Handle(), &msg)) continue;
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  } catch (const std::exception& e) {
    LogFmt("UI: cannot create the window: %s", {e.what()});
    exitCode = 1;
  }
  WaitForCancelledDownload(2000);
  ui::ShutdownUiThread();
  if (SUCCEEDED(com)) CoUninitialize();
  return exitCode;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
  // Before anything can load a DLL.
  win::RestrictDllSearch();
  // Services, in order; they end in reverse order below.
  LoggerStartup();
  LoadSlideCaptions();
  ULONG_PTR gdiplusToken = 0;
  Gdiplus::GdiplusStartupInput gdiplusInput;
  const bool gdiplusOk = Gdiplus::GdiplusStartup(&gdiplusToken, &gdiplusInput, nullptr) == Gdiplus::Ok;
  InitClientId();

  // One copy per logon.  The handle is held until the process ends.
  // The error is taken at once: freeing the name's buffer may change it.
  const std::wstring mutexName = win::Wide(brand::kSingleInstanceMutex);
  HANDLE mutex = CreateMutexW(nullptr, TRUE, mutexName.c_str());
  const DWORD mutexError = GetLastError();
  const bool alreadyRunning = mutex == nullptr || mutexError == ERROR_ALREADY_EXISTS;
  int exitCode = 0;
  if (alreadyRunning) {
    ActivateRunningCopy();
  } else {
    exitCode = RunApplication(instance, showCommand);
  }

  // Event threads still under way are not waited for: they find a closed log.
  ClearClientId();
  if (gdiplusOk) Gdiplus::GdiplusShutdown(gdiplusToken);
  ClearSlideCaptions();
  LoggerFinalize();
  return exitCode;
}
