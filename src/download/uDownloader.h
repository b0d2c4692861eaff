// The download worker: one object per download attempt, running on a thread of its own.
// It fetches one URL into one local file, resuming a partial file with a range request,
// reports throttled progress and exactly one outcome on the user-interface thread (while it
// waits), and destroys itself after reporting.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "download/uDownloadIo.h"

namespace qv {

class TDownloadThread;

// Counts include the resume offset; TotalBytes is 0 when the server announces no length.
using TDownloadProgressEvent =
    std::function<void(TDownloadThread* Sender, int64_t BytesRead, int64_t TotalBytes)>;
using TDownloadCompleteEvent =
    std::function<void(TDownloadThread* Sender, bool Success, const std::string& ErrorMsg)>;

inline constexpr std::string_view kDownloadCancelledMsg = "Download cancelled.";
// A complete file whose bytes no longer matched those received when it was checked.
inline constexpr std::string_view kDownloadChangedMsg = "The downloaded file was changed before it could be checked.";
inline constexpr std::string_view kFailKindChanged = "changed";

// What a worker uses of the system.  TDownloadThread::Create fills it with the real parts
// (WinHTTP, files, GetTickCount, the UI-thread call); tests fill it with fakes.
struct TDownloadServices {
  // Creates the HTTP client of one attempt; may raise a dl::TDownloadError.
  std::function<std::unique_ptr<dl::IHttpTransport>(const dl::THttpSettings&)> CreateHttp;
  std::shared_ptr<dl::IFileSystem> Files;
  // Millisecond tick count that wraps at 2^32.
  std::function<uint32_t()> TickCount;
  // Runs the function on the user-interface thread and waits for it; false when it could not
  // run there (the UI thread's dispatcher is gone).
  std::function<bool(const std::function<void()>&)> RunOnUiThread;
  // A new SHA-256 state.
  std::function<std::unique_ptr<dl::IDigest>()> CreateDigest;
  // Tests only: runs between the end of the transfer and the check of the file.
  std::function<void()> BeforeCheck;
};

class TDownloadThread {
 public:
  // A suspended worker for one attempt; it destroys itself once its outcome has been reported.
  // A resumed attempt gets the digest of the kept bytes from the attempt that wrote them
  // (TakeDigest), and checks the file against it before it appends; without it, or when the
  // bytes on disk differ, the kept bytes are unusable and the download starts from zero.
  static TDownloadThread* Create(std::string AUrl, std::string ADestFile, int64_t AResumeFrom,
                                 std::unique_ptr<dl::IDigest> AResumeDigest = nullptr);
  // A new SHA-256 state of the kind Create uses (Windows build).
  static std::unique_ptr<dl::IDigest> NewDigest();
  static TDownloadThread* CreateWith(std::string AUrl, std::string ADestFile, int64_t AResumeFrom,
                                     TDownloadServices AServices,
                                     std::unique_ptr<dl::IDigest> AResumeDigest = nullptr);

  TDownloadThread(const TDownloadThread&) = delete;
  TDownloadThread& operator=(const TDownloadThread&) = delete;

  // Set both before Start; they are not changed afterwards.
  void SetOnProgress(TDownloadProgressEvent AHandler) { FOnProgress = std::move(AHandler); }
  void SetOnComplete(TDownloadCompleteEvent AHandler) { FOnComplete = std::move(AHandler); }
  const TDownloadProgressEvent& OnProgress() const { return FOnProgress; }
  const TDownloadCompleteEvent& OnComplete() const { return FOnComplete; }

  // Starts the worker's thread.  Call once; the object must not be used after its completion
  // handler has returned.
  void Start();

  // Workers whose thread has started and not yet ended (the program waits a little for a
  // cancelled one before it shuts its services down).
  static int Running();

  // Asks the worker to stop; returns at once.  Any thread, any time before the completion.
  void Cancel() { FCancelled.store(true, std::memory_order_relaxed); }

  // Final when OnComplete fires; read them inside the completion handler.
  int HttpStatus() const { return FHttpStatus; }
  const std::string& FailKind() const { return FFailKind; }
  int64_t BytesOnDisk() const { return FBytesOnDisk; }
  // Inside the completion handler: the digest of the BytesOnDisk bytes kept for resumption
  // (null when nothing is kept), and after a success the checked file, opened so that nobody can
  // change it (the owner keeps it open until the program it holds has ended).
  std::unique_ptr<dl::IDigest> TakeDigest() { return std::move(FDigest); }
  std::unique_ptr<dl::ILockedFile> TakeCheckedFile() { return std::move(FCheckedFile); }

  static constexpr int kConnectTimeoutMs = 15000;
  static constexpr int kResponseTimeoutMs = 30000;
  static constexpr int kSendTimeoutMs = 60000;
  static constexpr uint32_t kProgressIntervalMs = 100;

 private:
  TDownloadThread(std::string AUrl, std::string ADestFile, int64_t AResumeFrom, TDownloadServices AServices,
                  std::unique_ptr<dl::IDigest> AResumeDigest);
  ~TDownloadThread() = default;

  void Execute();
  bool HandleReceiveData(int64_t AContentLength, int64_t AReceived);
  void ReportProgress();
  void ReportComplete(bool ASuccess, const std::string& AError) noexcept;
  void HandleError(const std::string& ACategory, const std::string& AMessage) noexcept;
  [[nodiscard]] bool KeptBytesMatch(dl::IDownloadFile& AFile);
  [[nodiscard]] bool CheckCompleteFile();
  bool StopRequested() const { return FCancelled.load(std::memory_order_relaxed) || FOwnerGone; }

  const std::string FUrl;
  const std::string FDestFile;
  std::atomic<bool> FCancelled{false};
  int FHttpStatus = 0;
  std::string FFailKind;
  int64_t FResumeFrom;
  int64_t FBytesOnDisk = 0;
  bool FSizeLogged = false;
  int64_t FBytesRead = 0;
  int64_t FTotalBytes = 0;
  uint32_t FLastProgressTick = 0;
  // The user-interface thread could not be reached with a report: the owner is gone, so the
  // transfer stops as if cancelled and nothing more is reported.
  bool FOwnerGone = false;
  bool FStarted = false;
  TDownloadProgressEvent FOnProgress;
  TDownloadCompleteEvent FOnComplete;
  TDownloadServices FServices;
  // The digest of every byte written to the file so far (the kept ones included), and the
  // checked file.  Declared after the services so they are released first: a caller waiting for
  // the services to go finds them closed.
  std::unique_ptr<dl::IDigest> FDigest;
  std::unique_ptr<dl::ILockedFile> FCheckedFile;
};

}  // namespace qv
