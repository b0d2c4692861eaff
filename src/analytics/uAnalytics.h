// Anonymous usage events to the analytics Measurement Protocol.  TrackEvent returns at once;
// each event is posted by a short-lived thread of its own that nothing ever waits for.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace qv {

// Event names and fixed reasons, in one place.
namespace events {
inline constexpr std::string_view kSetupRun = "setup_run";
inline constexpr std::string_view kInstallStart = "install_start";
inline constexpr std::string_view kInstallRetry = "install_retry";
inline constexpr std::string_view kInstallFailed = "install_failed";
inline constexpr std::string_view kInstallSuccess = "install_success";
inline constexpr std::string_view kInstallCancelled = "install_cancelled";
inline constexpr std::string_view kOfflineDownload = "offline_download";

inline constexpr std::string_view kReasonUacCancelled = "uac_cancelled";
inline constexpr std::string_view kReasonLaunchError = "launch_error";
// "download_error_" + the worker's failure kind, or "download_error_http_<status>".
std::string DownloadFailureReason(std::string_view failKind, int httpStatus);
// "exit_code_" + the exit code as an unsigned 32-bit decimal.
std::string ExitCodeReason(unsigned long exitCode);
}  // namespace events

// Makes this run's client id (a new GUID, 36 upper-case characters).  Start-up, once.
void InitClientId();
void ClearClientId();
const std::string& ClientId();
// Sets the client id directly (tests).
void SetClientIdForTesting(std::string id);

// The compact JSON body of one event.
std::string BuildEventPayload(std::string_view eventName, std::string_view reason);

// Logs the event and hands it to a self-freeing background thread; never blocks, never fails.
void TrackEvent(std::string_view eventName, std::string_view reason);

// ---- Pieces of the sender, shared by the Windows transport and the tests -------------------

// The first log line of an event: GA: event <name> reason="<reason>" payload=<payload>.
std::string EventLogLine(std::string_view eventName, std::string_view reason,
                         std::string_view payload);

// Path and query of the collection and the validation endpoint, credentials filled in.  These
// go into request URLs only, never into the log.
std::string CollectPathAndQuery();
std::string ValidationPathAndQuery();

// What one POST gave: an answer (any status counts) or an error with its kind and message.
struct TPostOutcome {
  bool answered = false;
  int status = 0;
  std::string statusText;
  std::string body;
  std::string errorKind;
  std::string errorMessage;
};
using TPostFn = std::function<TPostOutcome(const std::string& pathAndQuery, std::string_view body)>;
using TLogFn = std::function<void(const std::string& line)>;

// The work of one event thread: the collection POST, then (unless it failed) the validation
// POST, each answer or the first error written through `log`.
void SendEventRequests(std::string_view eventName, std::string_view payload, const TPostFn& post,
                       const TLogFn& log);

}  // namespace qv
