// TfrmMain's views: the settings panel, the install and finish views, the painted buttons, the
// slide carousel, the choice of the installation folder and the captions of the current language.
#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>
#include <shobjidl.h>

#include "app/uBrand.h"
#include "app/uLogger.h"
#include "core/format.h"
#include "core/strings.h"
#include "l10n/uLang.h"
#include "mainform/layout.h"
#include "mainform/uMainForm.h"
#include "platform/win32.h"
#include "toolkit/images.h"
#include "toolkit/painters.h"

namespace qv {
namespace {

constexpr COLORREF kViewBackground = RGB(0xF5, 0xF5, 0xF5);
constexpr uint32_t kDisabledFill = 0xCFCFCF;
constexpr uint32_t kOtherDot = 0xD0D0D0;
constexpr int kButtonFontPoints = 13;

void OpenWebPage(const std::string& url) {
  ShellExecuteW(nullptr, win::Wide(brand::kShellVerbOpen).c_str(), win::Wide(url).c_str(), nullptr, nullptr,
                SW_SHOWNORMAL);
}

}  // namespace

const TUIStrings& TfrmMain::CurrentStrings() const { return UIStringsTable[static_cast<size_t>(FLangIndex)]; }

// ---- Images --------------------------------------------------------------------------------

void TfrmMain::LoadResourceImages(const char* ResName, TControl& Image, COLORREF Background) {
  Image.SetBitmap(LoadPngResource(ResName, Image.Width(), Image.Height(), Background));
}

void TfrmMain::LoadImages() {
  LoadResourceImages(brand::kBrandPngResource.data(), *imgBrand, kViewBackground);
  LoadResourceImages(brand::kProductPngResource.data(), *imgProduct, kViewBackground);
  LoadResourceImages(brand::kProductPngResource.data(), *imgFinish, kViewBackground);
}

// ---- Settings panel, install and finish views -------------------------------------------

void TfrmMain::lblSettingsClick() {
  pnlSettings->SetVisible(!pnlSettings->Visible());
  SetClientHeight(pnlSettings->Visible()
                      ? layout::ExtendedClientHeight(pnlSettings->Top(), pnlSettings->Height())
                      : FCollapsedHeight);
  // The border follows the new bottom row.
  RedrawWindow(FHandle, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void TfrmMain::SetMainViewTabStops(bool on) {
  // Controls covered by the install or finish view are not reachable with Tab.
  for (TControl* c : {chkAccept, pbInstall, lblPrivacy, lblLicense, lblSettings, lblOffline, pnlSettings})
    c->SetTabStop(on);
}

void TfrmMain::ShowInstallView(bool Show) {
  if (!Show) {
    tmrSlides->SetEnabled(false);
    pnlInstallView->SetVisible(false);
    if (!pnlFinishView->Visible()) SetMainViewTabStops(true);
    return;
  }
  if (pnlSettings->Visible()) lblSettingsClick();
  ShowSlide(0);
  pnlInstallView->SetVisible(true);
  pnlInstallView->BringToFront();
  SetMainViewTabStops(false);
  tmrSlides->SetEnabled(true);
}

void TfrmMain::ShowFinishView() {
  const layout::FinishPlaces p = layout::FinishLayout(pnlFinishView->Width(), imgFinish->Width(), imgFinish->Height(),
                                                      lblFinishName->Width(), lblFinishName->Height(),
                                                      pbStart->Width());
  imgFinish->SetBounds(p.imageLeft, p.imageTop, imgFinish->Width(), imgFinish->Height());
  lblFinishName->SetBounds(p.nameLeft, p.nameTop, lblFinishName->Width(), lblFinishName->Height());
  pbStart->SetBounds(p.buttonLeft, p.buttonTop, pbStart->Width(), pbStart->Height());
  pnlFinishView->SetVisible(true);
  pnlFinishView->BringToFront();
  SetMainViewTabStops(false);
}

void TfrmMain::SetInstallStatus(const std::string& Text, const std::string& Percent) {
  lblInst1->SetText(Text);
  lblInstPct->SetText(Percent);
  lblInstPct->SetLeft(lblInst1->Left() + lblInst1->Width() + 5);
}

// ---- Painted buttons -----------------------------------------------------------------------

void TfrmMain::PaintRoundButton(const TPaintArgs& Box, int Radius, const std::string& Caption, int FontSize,
                                bool Hover, bool Enabled) {
  const uint32_t fill = !Enabled ? kDisabledFill : Hover ? brand::kAccentHoverColor : brand::kAccentColor;
  paint::RoundButton(Box.dc, Box.rect.right, Box.rect.bottom, Radius, fill, Caption,
                     FControls->PointFont(FontSize), Box.focusCue);
}

void TfrmMain::pbInstallPaint(const TPaintArgs& args) {
  PaintRoundButton(args, pbInstall->Height() / 2, FInstallCaption, kButtonFontPoints, FInstallHover,
                   FInstallEnabled);
}

void TfrmMain::pbStartPaint(const TPaintArgs& args) {
  const std::string caption(CurrentStrings().BtnStartNow);
  // Its accessible name follows the caption it shows.
  if (pbStart->Text() != caption) pbStart->SetText(caption);
  PaintRoundButton(args, pbStart->Height() / 2, caption, kButtonFontPoints, FStartHover, true);
}

void TfrmMain::pbInstallMouseEnter() {
  FInstallHover = true;
  pbInstall->Invalidate();
}

void TfrmMain::pbInstallMouseLeave() {
  FInstallHover = false;
  pbInstall->Invalidate();
}

void TfrmMain::pbStartMouseEnter() {
  FStartHover = true;
  pbStart->Invalidate();
}

void TfrmMain::pbStartMouseLeave() {
  FStartHover = false;
  pbStart->Invalidate();
}

void TfrmMain::SetInstallCaption(const std::string& caption) {
  FInstallCaption = caption;
  pbInstall->SetText(caption);  // the accessible name
}

// ---- Slide carousel --------------------------------------------------------------------------

void TfrmMain::LayoutBanner() {
  const layout::BannerPlaces b = layout::BannerLayout(pnlBanner->Width(), pnlBanner->Height(),
                                                      lblSlideTitle->Height(), pbDots->Height(), FDpi);
  lblSlideTitle->SetTop(b.titleTop);
  pbDots->SetTop(b.dotsTop);
  imgSlide->SetBounds(b.imageLeft, b.imageTop, b.imageWidth, b.imageHeight);
  const COLORREF banner = pnlBanner->Background();
  for (size_t i = 0; i < FSlides.size(); ++i)
    FSlides[i] = LoadPngResource(Format(brand::kSlideResourceFormat, {static_cast<int>(i) + 1}), imgSlide->Width(),
                                 imgSlide->Height(), banner);
}

void TfrmMain::ShowSlide(int Index) {
  FSlideIndex = Index;
  lblSlideTitle->SetText(SlideCaption(FLangIndex, Index));
  imgSlide->ShowBitmap(FSlides[static_cast<size_t>(Index)].get());
  pbDots->Invalidate();
}

void TfrmMain::tmrSlidesTimer() { ShowSlide((FSlideIndex + 1) % kSlideCount); }

void TfrmMain::pbDotsPaint(const TPaintArgs& args) {
  paint::Dots(args.dc, args.rect.right, args.rect.bottom, kSlideCount, FSlideIndex, brand::kAccentColor, kOtherDot);
}

void TfrmMain::pbDotsMouseDown(int X) {
  const int k = layout::DotAt(X, pbDots->Width(), kSlideCount);
  if (k < 0) return;
  ShowSlide(k);
  // The next automatic change comes a full interval after the click.
  tmrSlides->SetEnabled(false);
  tmrSlides->SetEnabled(true);
}

// ---- Installation folder ---------------------------------------------------------------------

void TfrmMain::btnBrowseClick() {
  win::ComPtr<IFileOpenDialog> dialog;
  if (SUCCEEDED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_IFileOpenDialog,
                                 reinterpret_cast<void**>(dialog.put())))) {
    // Options first: some implementations of the dialog give a folder picker a title of their
    // own when FOS_PICKFOLDERS is set, which would replace ours.
    dialog->SetOptions(FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM | FOS_PATHMUSTEXIST);
    dialog->SetTitle(win::Wide(CurrentStrings().SelectFolder).c_str());
    const std::wstring current = win::Wide(edtLocation->Text());
    const DWORD attributes = GetFileAttributesW(current.c_str());
    if (!current.empty() && attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      win::ComPtr<IShellItem> folder;
      if (SUCCEEDED(SHCreateItemFromParsingName(current.c_str(), nullptr, IID_IShellItem,
                                                reinterpret_cast<void**>(folder.put()))))
        dialog->SetFolder(folder.get());
    }
    if (SUCCEEDED(dialog->Show(FHandle))) {
      win::ComPtr<IShellItem> item;
      PWSTR path = nullptr;
      if (SUCCEEDED(dialog->GetResult(item.put())) &&
          SUCCEEDED(item->GetDisplayName(SIGDN_FILESYSPATH, &path)) && path) {
        const std::string chosen = win::Narrow(path);
        CoTaskMemFree(path);
        edtLocation->SetText(layout::WithProductFolder(chosen, brand::kDefaultInstallFolderName));
      }
    }
  } else {
    Log("UI: folder picker unavailable");
  }
  Log("UI: install dir set to " + edtLocation->Text());
}

// ---- Captions --------------------------------------------------------------------------------

void TfrmMain::ApplyLanguage() {
  const TUIStrings& s = CurrentStrings();
  chkAccept->SetText(std::string(s.ReadAgreed));
  lblPrivacy->SetText(std::string(s.Privacy));
  lblAnd->SetText(std::string(s.AndWord));
  lblLicense->SetText(std::string(s.License));
  lblSettings->SetText(std::string(s.InstallSetting));
  PlaceSettingsLink();
  lblOffline->SetText(std::string(s.OfflineLink));
  lblLang->SetText(std::string(s.SelectLanguage));
  lblPath->SetText(std::string(s.InstallPath));
  btnBrowse->SetText(std::string(s.Browse));
  btnHide->SetText(std::string(s.BtnHide));
  if (!FDone) SetInstallCaption(std::string(s.BtnInstall));
  LayoutAcceptLine();
  pbInstall->Invalidate();
  pbStart->Invalidate();
}

void TfrmMain::PlaceSettingsLink() {
  // Its right edge keeps a 16-px margin whatever the caption's width.
  RECT client{};
  GetClientRect(FHandle, &client);
  lblSettings->SetLeft(client.right - lblSettings->Width() - layout::ScaleLength(16, FDpi));
}

void TfrmMain::LayoutAcceptLine() {
  // The check box is just wide enough for its caption in the window font.
  win::WindowDc dc = win::GetWindowDc(FHandle);
  win::Selection font = win::Select(dc.get(), FControls->WindowFont());
  const std::wstring caption = win::Wide(chkAccept->Text());
  SIZE size{};
  GetTextExtentPoint32W(dc.get(), caption.c_str(), static_cast<int>(caption.size()), &size);
  const layout::AcceptLine a =
      layout::LayoutAcceptLine(chkAccept->Left(), size.cx, layout::ScaleLength(20, FDpi), layout::ScaleLength(5, FDpi),
                               lblPrivacy->Width(), lblAnd->Width());
  chkAccept->SetBounds(chkAccept->Left(), chkAccept->Top(), a.checkWidth, chkAccept->Height());
  lblPrivacy->SetLeft(a.privacyLeft);
  lblAnd->SetLeft(a.andLeft);
  lblLicense->SetLeft(a.licenseLeft);
}

void TfrmMain::cbLanguageChange() {
  const LRESULT sel = SendMessageW(cbLanguage->Hwnd(), CB_GETCURSEL, 0, 0);
  if (sel < 0 || sel >= kLanguageCount) return;
  FLangIndex = static_cast<int>(sel);
  Log("UI: language changed to " + std::string(CurrentStrings().LangName));
  ApplyLanguage();
}

void TfrmMain::lblPrivacyClick() { OpenWebPage(brand::PrivacyUrl()); }

void TfrmMain::lblLicenseClick() { OpenWebPage(brand::LicenseUrl()); }

}  // namespace qv
