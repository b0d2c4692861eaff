#include "download/uDownloader.h"

#include <algorithm>
#include <exception>
#include <limits>
#include <system_error>
#include <thread>
#include <vector>

#include "app/uLogger.h"
#include "app/uBrand.h"
#include "core/strings.h"

namespace qv {

using dl::TDownloadError;

TDownloadThread* TDownloadThread::CreateWith(std::string AUrl, std::string ADestFile, int64_t AResumeFrom,
                                             TDownloadServices AServices, std::unique_ptr<dl::IDigest> AResumeDigest) {
  return new TDownloadThread(std::move(AUrl), std::move(ADestFile), AResumeFrom, std::move(AServices),
                             std::move(AResumeDigest));
}

TDownloadThread::TDownloadThread(std::string AUrl, std::string ADestFile, int64_t AResumeFrom,
                                 TDownloadServices AServices, std::unique_ptr<dl::IDigest> AResumeDigest)
    : FUrl(std::move(AUrl)),
      FDestFile(std::move(ADestFile)),
      FResumeFrom(AResumeFrom),
      FServices(std::move(AServices)),
      FDigest(std::move(AResumeDigest)) {}

namespace {

// The file of an attempt as the transfer sees it: every byte written also goes into the digest,
// so the digest always covers exactly the bytes on disk.
class THashingFile final : public dl::IDownloadFile {
 public:
  THashingFile(dl::IDownloadFile& file, std::unique_ptr<dl::IDigest>& digest)
      : file_(file), digest_(digest), start_(file.Size()), startState_(digest ? digest->Clone() : nullptr) {}
  int64_t Size() override { return file_.Size(); }
  void Truncate(int64_t size) override {
    file_.Truncate(size);
    // Set back to where the attempt began (a redirect is followed): so is the digest.  Any
    // other size leaves the digest unknown, and the file is then never trusted.
    digest_ = size == start_ && startState_ ? startState_->Clone() : nullptr;
  }
  void Write(const char* data, size_t size) override {
    file_.Write(data, size);
    if (digest_) digest_->Update(data, size);
  }
  size_t ReadAt(int64_t offset, char* buffer, size_t size) override { return file_.ReadAt(offset, buffer, size); }
  bool IsPlain() override { return file_.IsPlain(); }

 private:
  dl::IDownloadFile& file_;
  std::unique_ptr<dl::IDigest>& digest_;
  const int64_t start_;
  const std::unique_ptr<dl::IDigest> startState_;
};

}  // namespace

bool TDownloadThread::KeptBytesMatch(dl::IDownloadFile& AFile) {
  if (!FDigest || !FServices.CreateDigest) return false;
  const std::unique_ptr<dl::IDigest> check = FServices.CreateDigest();
  std::vector<char> buffer(static_cast<size_t>(std::min<int64_t>(FResumeFrom, dl::kReadBufferSize)));
  for (int64_t at = 0; at < FResumeFrom;) {
    const size_t n = AFile.ReadAt(at, buffer.data(), static_cast<size_t>(std::min<int64_t>(FResumeFrom - at, buffer.size())));
    if (n == 0) return false;
    check->Update(buffer.data(), n);
    at += static_cast<int64_t>(n);
  }
  return check->Value() == FDigest->Value();
}

bool TDownloadThread::CheckCompleteFile() {
  dl::IFileSystem& files = *FServices.Files;
  if (FServices.BeforeCheck) FServices.BeforeCheck();
  try {
    if (FDigest && FServices.CreateDigest) {
      // From here on nobody can change the file: what is checked is what will be started.
      std::unique_ptr<dl::ILockedFile> locked = files.OpenLocked(FDestFile);
      const std::unique_ptr<dl::IDigest> check = FServices.CreateDigest();
      std::vector<char> buffer(dl::kReadBufferSize);
      for (size_t n; (n = locked->Read(buffer.data(), buffer.size())) > 0;) check->Update(buffer.data(), n);
      if (check->Value() == FDigest->Value()) {
        FCheckedFile = std::move(locked);
        return true;
      }
    }
  } catch (const std::exception& e) {
    LogFmt("DL: the file could not be checked: %s", {e.what()});
  }
  Log("DL: file changed before it could be checked, deleted");
  FDigest.reset();
  files.Delete(FDestFile);
  return false;
}

namespace {
std::atomic<int> g_running{0};
}  // namespace

int TDownloadThread::Running() { return g_running.load(); }

void TDownloadThread::Start() {
  if (FStarted) return;
  FStarted = true;
  g_running.fetch_add(1);
  try {
    std::thread([this] {
      Execute();
      delete this;
      g_running.fetch_sub(1);
    }).detach();
  } catch (const std::system_error& e) {
    g_running.fetch_sub(1);
    // No thread: the attempt still ends in exactly one reported outcome.
    FFailKind = "ethreaderror";
    LogFmt("DL: exception EThreadError: %s (cancelled=False, 0 bytes read)", {e.what()});
    ReportComplete(false, std::string("Cannot start the download thread: ") + e.what());
    delete this;
  }
}

bool TDownloadThread::HandleReceiveData(int64_t AContentLength, int64_t AReceived) {
  if (StopRequested()) return false;
  if (!FSizeLogged && AContentLength > 0) {
    FSizeLogged = true;
    LogFmt("DL: content length %d bytes (+ %d already on disk)", {AContentLength, FResumeFrom});
  }
  FBytesRead = FResumeFrom + AReceived;
  // The server may announce any length: near the 64-bit limit the total saturates instead of
  // overflowing, and the body then simply ends short of it.
  constexpr int64_t kMaxBytes = std::numeric_limits<int64_t>::max();
  if (AContentLength <= 0) FTotalBytes = 0;
  else FTotalBytes = AContentLength > kMaxBytes - FResumeFrom ? kMaxBytes : FResumeFrom + AContentLength;
  const uint32_t now = FServices.TickCount();
  // Unsigned difference: correct across the wrap of the 32-bit tick count.
  if (static_cast<uint32_t>(now - FLastProgressTick) < kProgressIntervalMs && AReceived != AContentLength) {
    return true;
  }
  FLastProgressTick = now;
  ReportProgress();
  return !StopRequested();
}

void TDownloadThread::ReportProgress() {
  bool ran = false;
  try {
    ran = FServices.RunOnUiThread([this] {
      if (FOnProgress) FOnProgress(this, FBytesRead, FTotalBytes);
    });
  } catch (...) {
    ran = true;  // the handler failed; the owner is still there
  }
  if (!ran && !FOwnerGone) {
    FOwnerGone = true;
    Log("DL: owner no longer reachable, stopping the transfer");
  }
}

void TDownloadThread::ReportComplete(bool ASuccess, const std::string& AError) noexcept {
  if (FOwnerGone) return;
  try {
    FServices.RunOnUiThread([&] {
      if (FOnComplete) FOnComplete(this, ASuccess, AError);
    });
  } catch (...) {
  }
}

void TDownloadThread::Execute() {
  const std::string cancelled(kDownloadCancelledMsg);
  std::unique_ptr<dl::IHttpTransport> http;
  std::unique_ptr<dl::IHttpExchange> response;
  std::unique_ptr<dl::IDownloadFile> file;
  dl::IFileSystem& files = *FServices.Files;
  try {
    // The client of this attempt.
    dl::THttpSettings settings;
    settings.UserAgent = std::string(brand::kUserAgent);
    settings.ConnectTimeoutMs = kConnectTimeoutMs;
    settings.ResponseTimeoutMs = kResponseTimeoutMs;
    settings.SendTimeoutMs = kSendTimeoutMs;
    settings.MaxRedirects = 5;
    http = FServices.CreateHttp(settings);

    // A partial file is usable only when it holds at least the bytes to resume from.
    if (FResumeFrom > 0) {
      if (files.Exists(FDestFile)) {
        file = files.OpenExisting(FDestFile);
        if (!file->IsPlain() || file->Size() < FResumeFrom || !KeptBytesMatch(*file)) {
          file.reset();
        } else {
          file->Truncate(FResumeFrom);
        }
      }
      if (!file) {
        Log("DL: partial file unusable, restarting from zero");
        FResumeFrom = 0;
      }
    }
    // A fresh file starts a fresh digest; a resumed one goes on with the kept bytes' digest.
    if (FResumeFrom == 0) FDigest = FServices.CreateDigest ? FServices.CreateDigest() : nullptr;

    // A range request onto the kept bytes, or a fresh file.
    dl::THeaders headers;
    if (FResumeFrom > 0) {
      headers.emplace_back("Range", Format("bytes=%d-", {FResumeFrom}));
      LogFmt("DL: RESUME %s -> %s from byte %d", {FUrl, FDestFile, FResumeFrom});
    } else {
      LogFmt("DL: GET %s -> %s", {FUrl, FDestFile});
      file = files.Create(FDestFile);
    }

    // The transfer; the file is closed when it returns or fails.
    try {
      THashingFile hashing(*file, FDigest);
      response = dl::HttpGetToFile(*http, settings, FUrl, headers, hashing,
                                   [this](int64_t length, int64_t received) {
                                     return HandleReceiveData(length, received);
                                   });
    } catch (...) {
      file.reset();
      throw;
    }
    file.reset();

    FHttpStatus = response->StatusCode();

    // A cancel noticed during the transfer or when it returned.
    if (StopRequested()) {
      LogFmt("DL: cancelled by user after %d bytes, partial file deleted", {FBytesRead});
      files.Delete(FDestFile);
      ReportComplete(false, cancelled);
      response.reset();
      http.reset();
      return;
    }

    const std::string statusText = response->StatusText();
    LogFmt("DL: HTTP %d %s, received %d bytes total", {FHttpStatus, statusText, FBytesRead});

    bool success = false;
    std::string message;
    if (FResumeFrom > 0 && FHttpStatus == 200) {
      // The whole file was appended after the kept bytes: useless.
      FFailKind = "resume_ignored";
      files.Delete(FDestFile);
      message = "Server ignored the resume request.";
    } else if (FHttpStatus < 200 || FHttpStatus > 299) {
      // Any status outside 2xx.
      files.Delete(FDestFile);
      message = Format("Server returned HTTP %d %s", {FHttpStatus, statusText});
    } else if (FTotalBytes > 0 && FBytesRead < FTotalBytes) {
      // Shorter than announced: kept for the next attempt to resume from.
      FFailKind = "incomplete";
      FBytesOnDisk = FBytesRead;
      LogFmt("DL: body incomplete (%d of %d bytes), keeping partial for resume", {FBytesRead, FTotalBytes});
      message = "Connection closed before the download completed.";
    } else {
      // The bytes on disk must be the bytes received, and stay so until the owner is done.
      success = CheckCompleteFile();
      if (!success) {
        FFailKind = std::string(kFailKindChanged);
        message = std::string(kDownloadChangedMsg);
      }
    }
    if (FBytesOnDisk == 0) FDigest.reset();
    ReportComplete(success, message);
    response.reset();
    http.reset();
    return;
  } catch (const std::exception& e) {
    response.reset();
    http.reset();
    file.reset();
    const auto* error = dynamic_cast<const TDownloadError*>(&e);
    HandleError(error ? error->Category() : std::string("Exception"), e.what());
  } catch (...) {
    response.reset();
    http.reset();
    file.reset();
    HandleError("Exception", "Unknown error");
  }
}

// Every error of the attempt ends here, after the client and the file were released.
void TDownloadThread::HandleError(const std::string& ACategory, const std::string& AMessage) noexcept {
  dl::IFileSystem& files = *FServices.Files;
  const bool wasCancelled = StopRequested();
  LogFmt("DL: exception %s: %s (cancelled=%s, %d bytes read)",
         {ACategory, AMessage, wasCancelled ? "True" : "False", FBytesRead});
  if (wasCancelled) {
    files.Delete(FDestFile);
    ReportComplete(false, std::string(kDownloadCancelledMsg));
    return;
  }
  try {
    FFailKind = AsciiLower(ACategory);
  } catch (...) {
  }
  if (FHttpStatus == 0) {
    // Only the bytes that were there before this attempt are known to be good.
    FBytesOnDisk = FResumeFrom;
  } else if ((FResumeFrom == 0 && FHttpStatus >= 200 && FHttpStatus <= 299) ||
             (FResumeFrom > 0 && FHttpStatus == 206)) {
    FBytesOnDisk = FBytesRead;
  } else {
    FBytesOnDisk = 0;
  }
  if (FBytesOnDisk > 0 && FDigest) {
    LogFmt("DL: keeping %d-byte partial for resume", {FBytesOnDisk});
  } else {
    FBytesOnDisk = 0;
    FDigest.reset();
    files.Delete(FDestFile);
  }
  try {
    ReportComplete(false, AMessage);
  } catch (...) {
  }
}

}  // namespace qv
