// Anonymous usage events to the analytics Measurement Protocol.  TrackEvent returns at once;
// each event is posted by a short-lived thread of its own that nothing ever waits for.
#pragma once

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

}  // namespace qv
