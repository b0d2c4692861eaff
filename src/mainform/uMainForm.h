// The installer's one window, frmMain of class "TfrmMain".
#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <string>

namespace qv {

class TDownloadThread;

class TfrmMain {
 public:
  // Registers the window class, creates the window and runs FormCreate.  Null on failure.
  static TfrmMain* Create(HINSTANCE instance);
  ~TfrmMain();

  HWND Handle() const { return FHandle; }
  void Show(int showCommand);

  // Run defaults, readable for the install flow.
  const std::string& DestFile() const { return FDestFile; }
  std::string InstallLocation() const { return FLocationText; }

 private:
  explicit TfrmMain(HINSTANCE instance) : FInstance(instance) {}
  bool CreateWnd();
  void FormCreate();
  void FormDestroy();
  void FormPaint(HDC dc);
  int Scale(int v) const;

  static LRESULT CALLBACK StaticWndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  LRESULT WndProc(UINT msg, WPARAM wp, LPARAM lp);

  HINSTANCE FInstance;
  HWND FHandle = nullptr;
  UINT FDpi = 96;

  // State of the install flow (all touched only on the UI thread).
  TDownloadThread* FDownloader = nullptr;
  std::string FDestFile;
  uintptr_t FInstallProcess = 0;
  int FCollapsedHeight = 0;
  bool FInstallEnabled = false;
  bool FInstallHover = false;
  std::string FInstallCaption;
  bool FStartHover = false;
  bool FDone = false;
  bool FClosing = false;
  int FLangIndex = 0;
  std::array<HBITMAP, 4> FSlides{};
  int FSlideIndex = 0;
  int FRetryCount = 0;
  int64_t FPendingResumeFrom = 0;
  bool FActivityHeld = false;

  std::string FLocationText;  // text of edtLocation
};

}  // namespace qv
