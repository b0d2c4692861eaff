// TfrmMain presentation: captions in the current language and the acceptance line.
#include <windows.h>

#include <shellapi.h>

#include "app/uBrand.h"
#include "app/uLogger.h"
#include "l10n/uLang.h"
#include "mainform/uMainForm.h"
#include "platform/win32.h"

namespace qv {

const TUIStrings& TfrmMain::CurrentStrings() const { return UIStringsTable[static_cast<size_t>(FLangIndex)]; }

void TfrmMain::ApplyLanguage() {
  const TUIStrings& s = CurrentStrings();
  chkAccept->SetText(std::string(s.ReadAgreed));
  lblPrivacy->SetText(std::string(s.Privacy));
  lblAnd->SetText(std::string(s.AndWord));
  lblLicense->SetText(std::string(s.License));
  lblSettings->SetText(std::string(s.InstallSetting));
  // Its right edge keeps a 16-px margin whatever the caption's width.
  RECT client{};
  GetClientRect(FHandle, &client);
  lblSettings->SetLeft(client.right - lblSettings->Width() - FControls->Scale(16));
  lblOffline->SetText(std::string(s.OfflineLink));
  lblLang->SetText(std::string(s.SelectLanguage));
  lblPath->SetText(std::string(s.InstallPath));
  btnBrowse->SetText(std::string(s.Browse));
  btnHide->SetText(std::string(s.BtnHide));
  if (!FDone) FInstallCaption = std::string(s.BtnInstall);
  LayoutAcceptLine();
  pbInstall->Invalidate();
  pbStart->Invalidate();
}

void TfrmMain::LayoutAcceptLine() {
  const int gap = FControls->Scale(5), box = FControls->Scale(20);
  // The check box is just wide enough for its caption in the window font.
  HDC dc = GetDC(FHandle);
  HGDIOBJ old = SelectObject(dc, FControls->WindowFont());
  const std::wstring caption = win::Wide(chkAccept->Text());
  SIZE size{};
  GetTextExtentPoint32W(dc, caption.c_str(), static_cast<int>(caption.size()), &size);
  SelectObject(dc, old);
  ReleaseDC(FHandle, dc);
  chkAccept->SetBounds(chkAccept->Left(), chkAccept->Top(), size.cx + box, chkAccept->Height());
  lblPrivacy->SetLeft(chkAccept->Left() + chkAccept->Width() + gap);
  lblAnd->SetLeft(lblPrivacy->Left() + lblPrivacy->Width() + gap);
  lblLicense->SetLeft(lblAnd->Left() + lblAnd->Width() + gap);
}

void TfrmMain::cbLanguageChange() {
  const LRESULT sel = SendMessageW(cbLanguage->Hwnd(), CB_GETCURSEL, 0, 0);
  if (sel < 0 || sel >= kLanguageCount) return;
  FLangIndex = static_cast<int>(sel);
  Log("UI: language changed to " + std::string(CurrentStrings().LangName));
  ApplyLanguage();
}

void TfrmMain::OpenWebPage(const std::string& url) {
  ShellExecuteW(nullptr, win::Wide(brand::kShellVerbOpen).c_str(), win::Wide(url).c_str(), nullptr, nullptr,
                SW_SHOWNORMAL);
}

}  // namespace qv
