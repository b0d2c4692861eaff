// TfrmMain's install flow: the Install click, the download with its retries, the silent
// installer run, Start Now, the offline link and the close query.  The decisions come from
// mainform/flow.h; this file applies them to the window.
#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include "analytics/uAnalytics.h"
#include "app/uBrand.h"
#include "app/uLogger.h"
#include "core/format.h"
#include "core/strings.h"
#include "download/uDownloader.h"
#include "l10n/uLang.h"
#include "mainform/flow.h"
#include "mainform/uMainForm.h"
#include "platform/platform.h"
#include "platform/win32.h"

namespace qv {
namespace {

// The system's text for an error, without the trailing spaces and full stops it ends with.
std::string ErrorText(DWORD code) {
  std::string text = win::SystemErrorText(code);
  while (!text.empty() && (static_cast<unsigned char>(text.back()) <= 32 || text.back() == '.')) text.pop_back();
  return text;
}

bool IsDirectory(const std::wstring& path) {
  const DWORD a = GetFileAttributesW(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsFile(const std::wstring& path) {
  const DWORD a = GetFileAttributesW(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

// "unins" at the start of a name, ignoring case as the user's locale does.
bool LocalePrefixMatch(std::string_view name, std::string_view prefix) {
  const std::wstring n = win::Wide(name), p = win::Wide(prefix);
  if (n.size() < p.size()) return false;
  return CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, n.c_str(), static_cast<int>(p.size()), p.c_str(),
                        static_cast<int>(p.size())) == CSTR_EQUAL;
}

std::vector<flow::TDirEntry> ListExeFiles(const std::string& folder) {
  std::vector<flow::TDirEntry> entries;
  WIN32_FIND_DATAW fd{};
  HANDLE find = FindFirstFileW(win::Wide(JoinPath(folder, "*.exe")).c_str(), &fd);
  if (find == INVALID_HANDLE_VALUE) return entries;
  do {
    const int64_t size = (static_cast<int64_t>(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow;
    entries.push_back({win::Narrow(fd.cFileName), size});
  } while (FindNextFileW(find, &fd));
  FindClose(find);
  return entries;
}

// Explorer from the Windows folder by its full path: a program file of that name beside the
// installer (in Downloads) must never be the one started.
std::wstring ExplorerPath() {
  wchar_t windows[MAX_PATH] = {};
  const UINT n = GetWindowsDirectoryW(windows, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return win::Wide(brand::kExplorerExe);
  return win::Wide(JoinPath(win::Narrow(windows), brand::kExplorerExe));
}

}  // namespace

int TfrmMain::ShowMessageBox(const std::string& text, UINT flags) {
  return MessageBoxW(FHandle, win::Wide(text).c_str(), win::Wide(brand::kProductName).c_str(), flags);
}

// ---- Install click and the download ---------------------------------------------------------

void TfrmMain::pbInstallClick() {
  if (!FInstallEnabled) return;
  if (FDone) {
    Close();
    return;
  }
  if (Trim(edtLocation->Text()).empty()) {
    if (!pnlSettings->Visible()) lblSettingsClick();
    ShowMessageBox(std::string(CurrentStrings().ChooseLocation), MB_OK | MB_ICONWARNING);
    edtLocation->Focus();
    return;
  }
  StartInstall();
}

void TfrmMain::chkAcceptClick() {
  FInstallEnabled = SendMessageW(chkAccept->Hwnd(), BM_GETCHECK, 0, 0) == BST_CHECKED;
  pbInstall->Invalidate();
}

void TfrmMain::StartInstall() {
  LogFmt("FLOW: Install clicked, dir=\"%s\", lang=%s", {Trim(edtLocation->Text()), CurrentStrings().InnoId});
  TrackEvent(events::kInstallStart, "");
  FRetryCount = 0;
  FPendingResumeFrom = 0;  // a new run always downloads from the first byte
  FPendingDigest.reset();
  FInstallerFile.reset();
  HoldActivity();
  SetBusy(true);
  lblStatus->SetText("");
  lblDetail->SetText("");
  lblOffline->SetVisible(false);
  ShowInstallView(true);
  StartDownload();
}

void TfrmMain::StartDownload() {
  SetProgressMarquee(false);
  SetProgressPosition(0);
  SetInstallStatus(std::string(CurrentStrings().InstallingWait), "");
  TDownloadThread* worker =
      TDownloadThread::Create(brand::DownloadUrl(), FDestFile, FPendingResumeFrom, std::move(FPendingDigest));
  FDownloader = worker;
  FPendingResumeFrom = 0;
  // The reports run on this thread; once the window is gone they find it gone.
  const std::weak_ptr<TfrmMain*> self = FSelf;
  worker->SetOnProgress([self](TDownloadThread* sender, int64_t read, int64_t total) {
    if (const auto form = self.lock()) (*form)->DownloadProgress(sender, read, total);
  });
  worker->SetOnComplete([self](TDownloadThread* sender, bool success, const std::string& error) {
    if (const auto form = self.lock()) (*form)->DownloadComplete(sender, success, error);
  });
  worker->Start();
}

void TfrmMain::RetryTimerFired() {
  FRetryTimer->SetEnabled(false);
  if (!FClosing) StartDownload();
}

void TfrmMain::DownloadProgress(TDownloadThread*, int64_t BytesRead, int64_t TotalBytes) {
  const std::string waiting(CurrentStrings().InstallingWait);
  if (TotalBytes > 0) {
    const int percent = flow::DownloadPercent(BytesRead, TotalBytes);
    SetProgressPosition(percent * 10);
    SetInstallStatus(waiting, flow::PercentText(percent));
  } else {
    SetProgressMarquee(true);
    SetInstallStatus(waiting, "");
  }
}

void TfrmMain::DownloadComplete(TDownloadThread* Sender, bool Success, const std::string& ErrorMsg) {
  const int status = Sender->HttpStatus();
  const std::string failKind = Sender->FailKind();
  FPendingResumeFrom = Sender->BytesOnDisk();
  FPendingDigest = Sender->TakeDigest();
  FInstallerFile = Sender->TakeCheckedFile();
  FDownloader = nullptr;
  const flow::TCompletionDecision d =
      flow::DecideCompletion(Success, ErrorMsg, status, failKind, FClosing, FRetryCount, FPendingResumeFrom);
  FRetryCount = d.retryCount;
  const TUIStrings& s = CurrentStrings();
  switch (d.action) {
    case flow::TCompletion::Launch:
      for (const std::string& line : d.logLines) Log(line);
      LaunchInstaller();
      break;
    case flow::TCompletion::CancelledClose:
      for (const std::string& line : d.logLines) Log(line);
      TrackEvent(events::kInstallCancelled, "");
      Close();
      break;
    case flow::TCompletion::FailedClose:
      for (const std::string& line : d.logLines) Log(line);
      Close();
      break;
    case flow::TCompletion::Retry:
      // The failure, the retry event, then the line that announces the retry.
      Log(d.logLines.front());
      TrackEvent(events::kInstallRetry, d.reason);
      for (size_t i = 1; i < d.logLines.size(); ++i) Log(d.logLines[i]);
      SetProgressPosition(0);
      SetInstallStatus(std::string(s.InstallingWait), "");
      FRetryTimer->SetInterval(static_cast<UINT>(d.retryDelayMs));
      FRetryTimer->SetEnabled(true);
      break;
    case flow::TCompletion::GiveUp:
      for (const std::string& line : d.logLines) Log(line);
      TrackEvent(events::kInstallFailed, d.reason);
      ReleaseActivity();
      ShowInstallView(false);
      HideFooterControls();
      lblStatus->SetText(std::string(s.InstallFailed));
      lblDetail->SetText(ErrorMsg);
      SetBusy(false);
      SetInstallCaption(std::string(s.BtnRetry));
      pbInstall->Invalidate();
      lblOffline->SetVisible(true);
      break;
  }
}

void TfrmMain::SetBusy(bool busy) {
  FInstallEnabled = !busy && SendMessageW(chkAccept->Hwnd(), BM_GETCHECK, 0, 0) == BST_CHECKED;
  for (TControl* c : {edtLocation, btnBrowse, chkAccept, cbLanguage}) c->SetEnabled(!busy);
  pbInstall->Invalidate();
}

void TfrmMain::HideFooterControls() {
  for (TControl* c : {chkAccept, lblPrivacy, lblAnd, lblLicense, lblSettings}) c->SetVisible(false);
}

void TfrmMain::ShowFailure(const std::string& Message) {
  Log("FLOW: failure shown to user: " + Message);
  ReleaseActivity();
  ShowInstallView(false);
  HideFooterControls();
  lblStatus->SetText(std::string(CurrentStrings().InstallFailed));
  lblDetail->SetText(Message);
  SetBusy(false);
  SetInstallCaption(std::string(CurrentStrings().BtnRetry));
  pbInstall->Invalidate();
  ShowMessageBox(Message, MB_OK | MB_ICONERROR);
}

void TfrmMain::HoldActivity() {
  if (FActivityHeld) return;
  SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
  FActivityHeld = true;
}

void TfrmMain::ReleaseActivity() {
  if (!FActivityHeld) return;
  SetThreadExecutionState(ES_CONTINUOUS);
  FActivityHeld = false;
}

void TfrmMain::SetProgressMarquee(bool marquee) {
  const HWND bar = pbInstProgress->Hwnd();
  const LONG_PTR style = GetWindowLongPtrW(bar, GWL_STYLE);
  if (((style & PBS_MARQUEE) != 0) == marquee) return;
  if (marquee) {
    SetWindowLongPtrW(bar, GWL_STYLE, style | PBS_MARQUEE);
    SendMessageW(bar, PBM_SETMARQUEE, TRUE, 30);
  } else {
    SendMessageW(bar, PBM_SETMARQUEE, FALSE, 0);
    SetWindowLongPtrW(bar, GWL_STYLE, style & ~static_cast<LONG_PTR>(PBS_MARQUEE));
  }
}

void TfrmMain::SetProgressPosition(int position) { SendMessageW(pbInstProgress->Hwnd(), PBM_SETPOS, position, 0); }

int TfrmMain::ProgressPosition() const {
  return static_cast<int>(SendMessageW(pbInstProgress->Hwnd(), PBM_GETPOS, 0, 0));
}

// ---- The installer run -----------------------------------------------------------------------

void TfrmMain::LaunchInstaller() {
  const TUIStrings& s = CurrentStrings();
  const std::string folder = flow::InstallerFolder(edtLocation->Text());
  const std::string parameters = flow::InstallerParameters(s.InnoId, folder);
  const std::wstring verb = win::Wide(brand::kShellVerbOpen), file = win::Wide(FDestFile),
                     params = win::Wide(parameters);
  SHELLEXECUTEINFOW sei{};
  sei.cbSize = sizeof sei;
  sei.fMask = SEE_MASK_NOCLOSEPROCESS;
  sei.hwnd = FHandle;
  sei.lpVerb = verb.c_str();
  sei.lpFile = file.c_str();
  sei.lpParameters = params.c_str();
  sei.nShow = SW_HIDE;
  LogFmt("FLOW: launching installer: \"%s\" %s", {FDestFile, parameters});
  DWORD error = ERROR_SUCCESS;
  if (!flow::FolderFitsCommandLine(folder)) {
    // A quote would end the folder's argument and pass the rest as switches: not started.
    error = ERROR_INVALID_NAME;
  } else if (!ShellExecuteExW(&sei)) {
    error = GetLastError();
  }
  if (error != ERROR_SUCCESS || !sei.hProcess) {
    if (error == ERROR_SUCCESS) error = ERROR_INVALID_HANDLE;  // started, but no process to watch
    const std::string text = ErrorText(error);
    LogFmt("FLOW: ShellExecuteEx FAILED, error %d: %s", {static_cast<unsigned long>(error), text});
    // The file stays (until the window closes or a new download replaces it), unlocked.
    FInstallerFile.reset();
    if (error == ERROR_CANCELLED) {
      TrackEvent(events::kInstallFailed, events::kReasonUacCancelled);
      ShowFailure(std::string(s.ElevationCancelled));
    } else {
      TrackEvent(events::kInstallFailed, events::kReasonLaunchError);
      ShowFailure(std::string(s.CouldNotStart) + text);
    }
    return;
  }
  LogFmt("FLOW: installer running, pid=%d, waiting...", {static_cast<unsigned long>(GetProcessId(sei.hProcess))});
  FInstallProcess.reset(sei.hProcess);
  SetProgressMarquee(false);
  SetProgressPosition(flow::kInstallerStartPosition);
  SetInstallStatus(std::string(s.InstallingWait), "90%");
  tmrInstall->SetEnabled(true);
}

void TfrmMain::tmrInstallTimer() {
  if (WaitForSingleObject(FInstallProcess.get(), 0) != WAIT_OBJECT_0) {
    const int position = flow::CreepPosition(ProgressPosition());
    SetProgressPosition(position);
    SetInstallStatus(std::string(CurrentStrings().InstallingWait), flow::PositionPercentText(position));
    return;
  }
  tmrInstall->SetEnabled(false);
  DWORD code = flow::kUnreadableExitCode;
  DWORD read = 0;
  if (GetExitCodeProcess(FInstallProcess.get(), &read)) code = read;
  FInstallProcess.reset();
  FInstallerFile.reset();  // the file is unlocked only to be deleted
  platform::DeleteFileAt(FDestFile);
  LogFmt("FLOW: installer exited, code=%d, temp file deleted", {static_cast<int32_t>(code)});
  InstallFinished(code);
}

void TfrmMain::InstallFinished(uint32_t ExitCode) {
  SetProgressMarquee(false);
  const TUIStrings& s = CurrentStrings();
  if (ExitCode == 0) {
    Log("FLOW: install SUCCESS");
    TrackEvent(events::kInstallSuccess, "");
    ReleaseActivity();
    SetProgressPosition(flow::kProgressMax);
    SetInstallStatus(std::string(s.InstallingWait), "100%");
    FDone = true;
    ShowInstallView(false);
    ShowFinishView();
    pbStart->Focus();
    return;
  }
  TrackEvent(events::kInstallFailed, events::ExitCodeReason(ExitCode));
  ShowFailure(Format(s.InstallerError, {static_cast<int32_t>(ExitCode)}));
}

// ---- Start Now and the offline link -----------------------------------------------------

std::string TfrmMain::FindAppExe() const {
  const std::string folder = flow::AppSearchFolder(edtLocation->Text());
  const bool folderExists = !folder.empty() && IsDirectory(win::Wide(folder));
  const bool appExists = folderExists && IsFile(win::Wide(JoinPath(folder, brand::kApplicationExeName)));
  const std::vector<flow::TDirEntry> listing =
      folderExists && !appExists ? ListExeFiles(folder) : std::vector<flow::TDirEntry>{};
  return flow::ChooseAppExe(folder, folderExists, appExists, listing, LocalePrefixMatch);
}

void TfrmMain::pbStartClick() {
  const std::string path = FindAppExe();
  if (!path.empty()) {
    LogFmt("FLOW: Start Now, launching \"%s\" (de-elevated via explorer)", {path});
    // Explorer starts it with the user's own, non-elevated rights.
    ShellExecuteW(nullptr, win::Wide(brand::kShellVerbOpen).c_str(), ExplorerPath().c_str(),
                  win::Wide("\"" + path + "\"").c_str(), nullptr, SW_SHOWNORMAL);
  } else {
    LogFmt("FLOW: Start Now, no app exe found in \"%s\"", {Trim(edtLocation->Text())});
  }
  Close();
}

void TfrmMain::lblOfflineClick() {
  Log("FLOW: user chose offline installer, opening browser");
  TrackEvent(events::kOfflineDownload, "");
  ShellExecuteW(nullptr, win::Wide(brand::kShellVerbOpen).c_str(), win::Wide(brand::DownloadUrl()).c_str(), nullptr,
                nullptr, SW_SHOWNORMAL);
  FClosing = true;
  Close();
}

// ---- Closing ---------------------------------------------------------------------------------

bool TfrmMain::FormCloseQuery() {
  const TUIStrings& s = CurrentStrings();
  auto refuse = [&] {
    Log("UI: close blocked, install in progress");
    SetInstallStatus(std::string(s.InstallInProgress), "");
    return false;
  };
  switch (flow::DecideClose(tmrInstall->Enabled(), FDone, FClosing)) {
    case flow::TCloseOutcome::Refuse: return refuse();
    case flow::TCloseOutcome::Close: return true;
    case flow::TCloseOutcome::Ask: break;
  }
  const int answer = ShowMessageBox(Format(s.ExitConfirm, {brand::kProductName}), MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2);
  if (answer != IDYES) return false;
  // The download may have finished while the question was open and started the installer,
  // which must never be left behind by a closing window.
  if (tmrInstall->Enabled()) return refuse();
  FClosing = true;
  Log("UI: user confirmed exit");
  if (FDownloader) {
    FDownloader->Cancel();
    SetInstallStatus(std::string(CurrentStrings().Cancelling), "");
    return false;
  }
  return true;
}

}  // namespace qv
