// The download worker: one object per download attempt, running on a thread of its own.
// It fetches one URL into one local file, resuming a partial file with a range request,
// reports throttled progress and exactly one outcome on the user-interface thread (while it
// waits), and destroys itself after reporting.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

namespace qv {

class TDownloadThread;

// Counts include the resume offset; TotalBytes is 0 when the server announces no length.
using TDownloadProgressEvent =
    std::function<void(TDownloadThread* Sender, int64_t BytesRead, int64_t TotalBytes)>;
using TDownloadCompleteEvent =
    std::function<void(TDownloadThread* Sender, bool Success, const std::string& ErrorMsg)>;

inline constexpr std::string_view kDownloadCancelledMsg = "Download cancelled.";

}  // namespace qv
