// The install flow's decisions, apart from the window: what a click, a download outcome, a
// tick of the installer poll and a close request lead to.  TfrmMain's handlers apply these
// decisions to the window; every rule of the flow (retry budget, event reasons, percentages,
// the installer's command line, the choice of the program to start, the close outcome by
// state) is here, in plain C++, and is unit-tested row by row.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace qv::flow {

// ---- Download and retries -------------------------------------------------------------------

inline constexpr int kMaxRetries = 3;          // automatic retries after the first attempt
inline constexpr int kRetryDelayStepMs = 1000; // retry n waits n x 1000 ms
inline constexpr int kProgressMax = 1000;      // progress bar range 0..1000
inline constexpr int kDownloadShare = 900;     // the download fills 0..900

// A failed attempt may be retried unless the server answered 400-499 other than 408 and 429.
// 0 (no HTTP answer), 3xx, 5xx and 2xx with a short body are all retryable.
bool IsRetryable(int httpStatus);

// What DownloadComplete does with one outcome.
enum class TCompletion {
  Launch,           // success: "FLOW: download complete", then start the installer
  CancelledClose,   // "Download cancelled.": log, "install_cancelled", close request
  FailedClose,      // failure while the user is leaving: log the failure, close request
  Retry,            // failure within the budget: count, "install_retry", log, arm the timer
  GiveUp,           // failure beyond the budget or final: log, "install_failed", Failed view
};

struct TCompletionDecision {
  TCompletion action = TCompletion::Launch;
  int retryCount = 0;          // FRetryCount after the decision
  int retryDelayMs = 0;        // Retry: the timer interval
  std::string reason;          // event reason of Retry and GiveUp (events::DownloadFailureReason)
  std::vector<std::string> logLines;  // in order, exactly as written to the setup log
};

// `errorMsg` is the worker's message; `resumeFrom` the offset the next attempt resumes from
// (the worker's BytesOnDisk), shown in the auto-retry line.
TCompletionDecision DecideCompletion(bool success, std::string_view errorMsg, int httpStatus,
                                     std::string_view failKind, bool closing, int retryCount,
                                     int64_t resumeFrom);

// Percentage of the download share: bytesRead / totalBytes x 90, rounded to the nearest
// integer with exact halves to even, computed exactly for any 64-bit counts.  Stays within
// 0..90: 0 when totalBytes is not above 0 (the caller shows the marquee instead), 90 when more
// bytes arrived than were announced.
int DownloadPercent(int64_t bytesRead, int64_t totalBytes);

// "%d%%": 42 -> "42%".
std::string PercentText(int percent);

// ---- Installer run ---------------------------------------------------------------------------

inline constexpr int kInstallerStartPosition = 900;
inline constexpr int kInstallerCreepStep = 2;
inline constexpr int kInstallerCreepLimit = 990;
inline constexpr uint32_t kUnreadableExitCode = 0xFFFFFFFFu;

// The folder given to the installer: trimmed (codes <= 32), then one trailing backslash removed.
std::string InstallerFolder(std::string_view locationText);

// False when the folder holds a double quote: no Windows path can, and inside the quoted /DIR=
// it would end the argument and let the rest of the text pass as further switches to an
// elevated installer.  Such a folder must be refused, not launched.
bool FolderFitsCommandLine(std::string_view folder);

// "/SP- /VERYSILENT /SUPPRESSMSGBOXES /NORESTART /LANG=<innoId> /DIR=\"<folder>\"".
std::string InstallerParameters(std::string_view innoId, std::string_view folder);

// The bar position after one poll tick that found the installer still running.
int CreepPosition(int position);
// The label of a bar position: position / 10, remainder dropped, as "%d%%".
std::string PositionPercentText(int position);

// ---- Application hand-off -------------------------------------------------------------------

struct TDirEntry {
  std::string name;   // as listed (no folder)
  int64_t size = 0;   // as the listing reports it (folders included)
};

// The folder searched by FindAppExe: trimmed, then one trailing path delimiter removed.
std::string AppSearchFolder(std::string_view locationText);

// True when `name` begins with "unins" ignoring case.  The Windows build passes a comparison in
// the user's locale; the default compares A-Z/a-z only.
using TPrefixMatch = std::function<bool(std::string_view name, std::string_view prefix)>;
bool AsciiPrefixMatch(std::string_view name, std::string_view prefix);

// FindAppExe over a listing of "*.exe" entries, in listing order: empty when `folder` is empty
// or not a directory; folder\Quorvel.exe when that file exists; otherwise the largest entry not
// beginning with "unins" (the first among equals), or empty.  An empty `prefixMatch` means
// AsciiPrefixMatch.
std::string ChooseAppExe(std::string_view folder, bool folderExists, bool appExeExists,
                         const std::vector<TDirEntry>& listing,
                         const TPrefixMatch& prefixMatch = AsciiPrefixMatch);

// ---- Closing ---------------------------------------------------------------------------------

enum class TCloseOutcome {
  Refuse,  // the installer runs: "UI: close blocked, install in progress", status line
  Close,   // finished or already leaving: no question
  Ask,     // the exit question decides
};
TCloseOutcome DecideClose(bool installerRunning, bool done, bool closing);

}  // namespace qv::flow
