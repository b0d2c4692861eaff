// The installer's one window, frmMain of class "TfrmMain".  Its controls come from the layout
// resource "TFRMMAIN"; the fields below carry the state of the install flow and are touched
// only on the user-interface thread.
//
// The form is split by subject: uMainForm.cpp creates it and routes its messages (frame,
// dragging, caption glyphs), uMainFormView.cpp holds its views (settings panel, install and
// finish views, painted buttons, carousel, folder choice, captions), uMainFormFlow.cpp the
// install flow (download, retries, installer run, Start Now, closing).  The decisions of the
// flow are in mainform/flow.h, the geometry in mainform/layout.h.
#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "download/uDownloadIo.h"
#include "platform/win32.h"
#include "toolkit/controls.h"
#include "toolkit/timer.h"

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
  // The message loop hands every message here before the dialog manager sees it.
  void PreTranslateMessage(const MSG& msg);

 private:
  explicit TfrmMain(HINSTANCE instance) : FInstance(instance) {}

  // ---- Creation and the frame (uMainForm.cpp) ----
  void CreateWnd();
  bool ApplyWindowFrame();
  void BindControls();
  void BindEvents();
  void FormCreate();
  void FormDestroy();
  void FormPaint(HDC dc, const RECT& client);
  void DragMouseDown(int Button);
  void CaptionGlyphMouseEnter(TControl& Sender);
  void CaptionGlyphMouseLeave(TControl& Sender);
  void lblMinClick();
  void lblCloseClick();
  void btnHideClick();
  // Asks the window to close: the close query decides.
  void Close();
  void FormDpiChanged(int dpi, const RECT* suggested);
  static LRESULT CALLBACK StaticWndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  LRESULT WndProc(UINT msg, WPARAM wp, LPARAM lp);
  bool HandleTestMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT* result);

  // ---- Views (uMainFormView.cpp) ----
  const TUIStrings& CurrentStrings() const;
  void LoadResourceImages(const char* ResName, TControl& Image, COLORREF Background);
  void LoadImages();
  void LayoutBanner();
  void lblSettingsClick();
  void ShowInstallView(bool Show);
  void ShowFinishView();
  void SetInstallStatus(const std::string& Text, const std::string& Percent);
  void SetMainViewTabStops(bool on);
  void PaintRoundButton(const TPaintArgs& Box, int Radius, const std::string& Caption, int FontSize, bool Hover,
                        bool Enabled);
  void pbInstallPaint(const TPaintArgs& args);
  void pbStartPaint(const TPaintArgs& args);
  void pbInstallMouseEnter();
  void pbInstallMouseLeave();
  void pbStartMouseEnter();
  void pbStartMouseLeave();
  void SetInstallCaption(const std::string& caption);
  void ShowSlide(int Index);
  void tmrSlidesTimer();
  void pbDotsPaint(const TPaintArgs& args);
  void pbDotsMouseDown(int X);
  void btnBrowseClick();
  void ApplyLanguage();
  void PlaceSettingsLink();
  void LayoutAcceptLine();
  void cbLanguageChange();
  void lblPrivacyClick();
  void lblLicenseClick();
  int ClientHeight() const;
  void SetClientHeight(int height);

  // ---- Install flow (uMainFormFlow.cpp) ----
  void pbInstallClick();
  void chkAcceptClick();
  void StartInstall();
  void StartDownload();
  void RetryTimerFired();
  void DownloadProgress(TDownloadThread* Sender, int64_t BytesRead, int64_t TotalBytes);
  void DownloadComplete(TDownloadThread* Sender, bool Success, const std::string& ErrorMsg);
  void SetBusy(bool busy);
  void HideFooterControls();
  void ShowFailure(const std::string& Message);
  void HoldActivity();
  void ReleaseActivity();
  void LaunchInstaller();
  void tmrInstallTimer();
  void InstallFinished(uint32_t ExitCode);
  std::string FindAppExe() const;
  void pbStartClick();
  void lblOfflineClick();
  [[nodiscard]] bool FormCloseQuery();
  void SetProgressMarquee(bool marquee);
  void SetProgressPosition(int position);
  int ProgressPosition() const;
  int ShowMessageBox(const std::string& text, UINT flags);

  HINSTANCE FInstance;
  HWND FHandle = nullptr;
  std::unique_ptr<TControlSet> FControls;
  int FDpi = 96;
  // Lets worker reports that arrive after the window is gone find it gone.
  std::shared_ptr<TfrmMain*> FSelf;

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
  TControl* shpDivider = nullptr;
  TControl* lblLang = nullptr;
  TControl* cbLanguage = nullptr;
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
  std::unique_ptr<TTimer> tmrInstall;
  std::unique_ptr<TTimer> tmrSlides;

  // State of the install flow.
  TDownloadThread* FDownloader = nullptr;
  std::string FDestFile;
  win::Handle FInstallProcess;
  int FCollapsedHeight = 0;
  bool FInstallEnabled = false;
  bool FInstallHover = false;
  std::string FInstallCaption;
  bool FStartHover = false;
  bool FDone = false;
  bool FClosing = false;
  int FLangIndex = 0;
  std::array<win::GdiObject<HBITMAP>, 4> FSlides;
  int FSlideIndex = 0;
  int FRetryCount = 0;
  std::unique_ptr<TTimer> FRetryTimer;
  int64_t FPendingResumeFrom = 0;
  bool FActivityHeld = false;
  // The digest of the bytes kept for the next attempt, from the attempt that wrote them.
  std::unique_ptr<dl::IDigest> FPendingDigest;
  // The checked installer, open so that nobody can change it until it has run.
  std::unique_ptr<dl::ILockedFile> FInstallerFile;
  // The control that had the keyboard focus when the window was last deactivated.
  HWND FFocusBeforeDeactivate = nullptr;
};

}  // namespace qv
