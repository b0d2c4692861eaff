// The installer's one window, frmMain of class "TfrmMain".  Its controls come from the layout
// resource "TFRMMAIN"; the fields below carry the state of the install flow and are touched
// only on the user-interface thread.
#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "mainform/controls.h"

namespace qv {

class TDownloadThread;
struct TUIStrings;

class TfrmMain {
 public:
  // Registers the window class, creates the window from its layout and runs FormCreate.
  // Throws std::runtime_error when the layout or an image cannot be loaded.
  static std::unique_ptr<TfrmMain> Create(HINSTANCE instance);
  ~TfrmMain();
  TfrmMain(const TfrmMain&) = delete;
  TfrmMain& operator=(const TfrmMain&) = delete;

  HWND Handle() const { return FHandle; }
  void Show(int showCommand);

 private:
  explicit TfrmMain(HINSTANCE instance) : FInstance(instance) {}
  void CreateWnd();
  void BindControls();
  void FormCreate();
  void FormDestroy();
  void FormPaint(HDC dc, const RECT& client);
  void LoadResourceImages(const char* resName, TControl& image, COLORREF background);

  // Captions in the current language.
  const TUIStrings& CurrentStrings() const;
  void ApplyLanguage();
  void LayoutAcceptLine();
  void cbLanguageChange();
  static void OpenWebPage(const std::string& url);

  static LRESULT CALLBACK StaticWndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  LRESULT WndProc(UINT msg, WPARAM wp, LPARAM lp);

  HINSTANCE FInstance;
  HWND FHandle = nullptr;
  std::unique_ptr<TControlSet> FControls;

  // Controls, by their layout names.
  TControl* imgBrand = nullptr;
  TControl* lblBrand = nullptr;
  TControl* lblMin = nullptr;
  TControl* lblClose = nullptr;
  TControl* imgProduct = nullptr;
  TControl* lblProduct = nullptr;
  TControl* pbInstall = nullptr;
  TControl* lblStatus = nullptr;
  TControl* lblDetail = nullptr;
  TControl* lblOffline = nullptr;
  TControl* chkAccept = nullptr;
  TControl* lblPrivacy = nullptr;
  TControl* lblAnd = nullptr;
  TControl* lblLicense = nullptr;
  TControl* lblSettings = nullptr;
  TControl* pnlSettings = nullptr;
  TControl* cbLanguage = nullptr;
  TControl* lblLang = nullptr;
  TControl* lblPath = nullptr;
  TControl* edtLocation = nullptr;
  TControl* btnBrowse = nullptr;
  TControl* pnlInstallView = nullptr;
  TControl* pnlBanner = nullptr;
  TControl* lblSlideTitle = nullptr;
  TControl* imgSlide = nullptr;
  TControl* pbDots = nullptr;
  TControl* pbInstProgress = nullptr;
  TControl* lblInst1 = nullptr;
  TControl* lblInstPct = nullptr;
  TControl* btnHide = nullptr;
  TControl* pnlFinishView = nullptr;
  TControl* imgFinish = nullptr;
  TControl* lblFinishName = nullptr;
  TControl* pbStart = nullptr;

  // State of the install flow.
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
};

}  // namespace qv
