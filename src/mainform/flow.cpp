#include "mainform/flow.h"

#include "analytics/uAnalytics.h"
#include "app/uBrand.h"
#include "core/format.h"
#include "core/strings.h"
#include "download/uDownloader.h"

namespace qv::flow {

// ---- Download and retries -------------------------------------------------------------------

bool IsRetryable(int httpStatus) {
  // A 4xx answer says the request itself is wrong; asking again changes nothing, except for a
  // request time-out (408) and rate limiting (429), which are about timing.
  if (httpStatus >= 400 && httpStatus <= 499) return httpStatus == 408 || httpStatus == 429;
  return true;
}

TCompletionDecision DecideCompletion(bool success, std::string_view errorMsg, int httpStatus,
                                     std::string_view failKind, bool closing, int retryCount,
                                     int64_t resumeFrom) {
  TCompletionDecision d;
  d.retryCount = retryCount;

  // A success that arrives after the user confirmed exit still installs: the file is complete
  // and the cancellation never reached the worker.
  if (success) {
    d.action = TCompletion::Launch;
    d.logLines.emplace_back("FLOW: download complete");
    return d;
  }
  if (errorMsg == kDownloadCancelledMsg) {
    d.action = TCompletion::CancelledClose;
    d.logLines.emplace_back("FLOW: download cancelled, closing");
    return d;
  }

  d.logLines.push_back(Format("FLOW: download FAILED (HTTP %d): %s", {httpStatus, errorMsg}));
  d.reason = events::DownloadFailureReason(failKind, httpStatus);
  if (closing) {
    d.action = TCompletion::FailedClose;
    return d;
  }
  if (IsRetryable(httpStatus) && retryCount < kMaxRetries) {
    d.action = TCompletion::Retry;
    d.retryCount = retryCount + 1;
    d.retryDelayMs = d.retryCount * kRetryDelayStepMs;
    d.logLines.push_back(Format("FLOW: auto-retry %d/%d in %d ms (resume from byte %d)",
                                {d.retryCount, kMaxRetries, d.retryDelayMs, resumeFrom}));
    return d;
  }
  d.action = TCompletion::GiveUp;
  d.logLines.push_back(Format("FLOW: download FAILED after %d retries, giving up", {retryCount}));
  return d;
}

int DownloadPercent(int64_t bytesRead, int64_t totalBytes) {
  if (totalBytes <= 0 || bytesRead <= 0) return 0;
  // More bytes than announced (a server that sends past its Content-Length) must not push the
  // download past its share of the bar.
  if (bytesRead >= totalBytes) return kDownloadShare / 10;

  // bytesRead * 90 / totalBytes, rounded half to even, in exact integer arithmetic: a double
  // quotient misplaces true halves (29 of 180 bytes gives 14.500000000000002), and the product
  // does not fit 64 bits for large files.  The multiplication is done as 90 additions modulo
  // totalBytes; every partial sum stays below 2 * totalBytes < 2^64.
  constexpr int kShare = kDownloadShare / 10;
  const uint64_t total = static_cast<uint64_t>(totalBytes);
  const uint64_t read = static_cast<uint64_t>(bytesRead);
  uint64_t remainder = 0;
  int whole = 0;
  for (int i = 0; i < kShare; ++i) {
    remainder += read;
    if (remainder >= total) {
      remainder -= total;
      ++whole;
    }
  }
  const uint64_t twice = remainder * 2;  // remainder < total <= 2^63 - 1
  if (twice > total || (twice == total && whole % 2 != 0)) ++whole;
  return whole;
}

std::string PercentText(int percent) { return Format("%d%%", {percent}); }

// ---- Installer run ---------------------------------------------------------------------------

std::string InstallerFolder(std::string_view locationText) {
  // "C:\X\" inside quotes would end in \" on the command line; one backslash is dropped so a
  // folder typed with a trailing separator stays a plain folder name.
  std::string folder = Trim(locationText);
  if (!folder.empty() && folder.back() == '\\') folder.pop_back();
  return folder;
}

bool FolderFitsCommandLine(std::string_view folder) {
  return folder.find('"') == std::string_view::npos;
}

std::string InstallerParameters(std::string_view innoId, std::string_view folder) {
  return Format("/SP- /VERYSILENT /SUPPRESSMSGBOXES /NORESTART /LANG=%s /DIR=\"%s\"",
                {innoId, folder});
}

int CreepPosition(int position) {
  return position < kInstallerCreepLimit ? position + kInstallerCreepStep : position;
}

std::string PositionPercentText(int position) { return PercentText(position / 10); }

// ---- Application hand-off -------------------------------------------------------------------

std::string AppSearchFolder(std::string_view locationText) {
  std::string folder = Trim(locationText);
  if (!folder.empty() && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
  return folder;
}

bool AsciiPrefixMatch(std::string_view name, std::string_view prefix) {
  if (name.size() < prefix.size()) return false;
  return AsciiLower(name.substr(0, prefix.size())) == AsciiLower(prefix);
}

std::string ChooseAppExe(std::string_view folder, bool folderExists, bool appExeExists,
                         const std::vector<TDirEntry>& listing, const TPrefixMatch& prefixMatch) {
  if (folder.empty() || !folderExists) return {};
  if (appExeExists) return JoinPath(folder, brand::kApplicationExeName);

  static constexpr std::string_view kUninstallerPrefix = "unins";
  const TPrefixMatch& matches = prefixMatch ? prefixMatch : TPrefixMatch(AsciiPrefixMatch);
  std::string result;
  int64_t largest = -1;
  for (const TDirEntry& entry : listing) {
    // The installer leaves its uninstaller (unins000.exe) beside the program; never start it.
    if (entry.name.size() >= kUninstallerPrefix.size() && matches(entry.name, kUninstallerPrefix))
      continue;
    if (entry.size > largest) {
      largest = entry.size;
      result = JoinPath(folder, entry.name);
    }
  }
  return result;
}

// ---- Closing ---------------------------------------------------------------------------------

TCloseOutcome DecideClose(bool installerRunning, bool done, bool closing) {
  // A running installer must not lose its owner, whatever the user chose before.
  if (installerRunning) return TCloseOutcome::Refuse;
  if (done || closing) return TCloseOutcome::Close;
  return TCloseOutcome::Ask;
}

}  // namespace qv::flow
