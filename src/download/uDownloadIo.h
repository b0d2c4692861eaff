// What the download worker needs from the system, as small interfaces: an HTTP transport that
// makes one exchange at a time, a destination file, and the errors both raise.  The Windows
// build supplies WinHTTP and CreateFileW behind them; the unit tests supply scripted fakes.
//
// HttpGetToFile, the GET with redirects and a per-chunk receive callback, is built on top of
// the transport here, so its rules are the same on every platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace qv::dl {

// An error of the transfer or of the file system.  `Category` is the name the log writes
// ("ENetHTTPClientException", "EFCreateError", ...); its lower-case form is the failure kind
// that the owner reads.
class TDownloadError : public std::runtime_error {
 public:
  TDownloadError(std::string category, const std::string& message)
      : std::runtime_error(message), category_(std::move(category)) {}
  const std::string& Category() const { return category_; }

 private:
  std::string category_;
};

inline constexpr char kNetClientError[] = "ENetHTTPClientException";
inline constexpr char kNetResponseError[] = "ENetHTTPResponseException";
inline constexpr char kNetHeaderError[] = "ENetHTTPException";
inline constexpr char kNetCertificateError[] = "ENetHTTPCertificateException";
inline constexpr char kNetRequestError[] = "ENetHTTPRequestException";
inline constexpr char kFileCreateError[] = "EFCreateError";
inline constexpr char kFileOpenError[] = "EFOpenError";
inline constexpr char kFileWriteError[] = "EWriteError";
inline constexpr char kFileReadError[] = "EReadError";

// The local file of one attempt, opened exclusively.  Closing happens on destruction.
class IDownloadFile {
 public:
  virtual ~IDownloadFile() = default;
  virtual int64_t Size() = 0;
  // Sets the size (cutting off or extending) and positions at the new end.
  virtual void Truncate(int64_t size) = 0;
  // Appends at the current position; raises an EWriteError when not all bytes are written.
  virtual void Write(const char* data, size_t size) = 0;
  // Reads up to `size` bytes from `offset`; fewer only at the end of the file.
  virtual size_t ReadAt(int64_t offset, char* buffer, size_t size) = 0;
  // Plainly the file at its path: one name, no reparse point, no other path behind the handle.
  // A partial file that is not is never resumed (another program may have linked it elsewhere).
  virtual bool IsPlain() = 0;
};

// A downloaded file opened for reading while others may only read it: nobody can write, rename
// or delete it while this is open.  The owner keeps it open until the program it holds has ended.
class ILockedFile {
 public:
  virtual ~ILockedFile() = default;
  // Reads the next bytes; 0 at the end.  Raises EReadError.
  virtual size_t Read(char* buffer, size_t size) = 0;
};

// A running SHA-256 of the bytes of a download.
class IDigest {
 public:
  virtual ~IDigest() = default;
  virtual void Update(const char* data, size_t size) = 0;
  // A copy of the running state (it goes on independently).
  virtual std::unique_ptr<IDigest> Clone() const = 0;
  // The digest of everything so far; the state itself goes on unchanged.
  virtual std::string Value() const = 0;
};

class IFileSystem {
 public:
  virtual ~IFileSystem() = default;
  virtual bool Exists(const std::string& path) = 0;
  // Opens an existing file for reading and writing without sharing; raises EFOpenError.
  virtual std::unique_ptr<IDownloadFile> OpenExisting(const std::string& path) = 0;
  // Creates a new file for reading and writing without sharing, after deleting the name if it
  // exists (never emptying an existing file in place, which could be a link to another file);
  // raises EFCreateError.
  virtual std::unique_ptr<IDownloadFile> Create(const std::string& path) = 0;
  // Opens an existing file for reading, sharing it for reading only; raises EFOpenError.
  virtual std::unique_ptr<ILockedFile> OpenLocked(const std::string& path) = 0;
  // Deletes a file; a missing file or a failure is silent.
  virtual void Delete(const std::string& path) noexcept = 0;
};

using THeaders = std::vector<std::pair<std::string, std::string>>;

// Fixed settings of the client for a whole attempt.
struct THttpSettings {
  std::string UserAgent;
  int ConnectTimeoutMs = 0;   // name resolution and connecting
  int ResponseTimeoutMs = 0;  // every wait for data from the server
  int SendTimeoutMs = 0;      // sending the request
  int MaxRedirects = 5;
};

// One request/response exchange on the wire, redirects not followed.  Status, length and
// location are known once it exists; the body is read with Read.
class IHttpExchange {
 public:
  virtual ~IHttpExchange() = default;
  virtual int StatusCode() = 0;
  // The status text; queried from the response when asked (raises ENetHTTPException).
  virtual std::string StatusText() = 0;
  // Announced body length, or -1 when the response announces none.
  virtual int64_t ContentLength() = 0;
  // The Location header, empty when absent.
  virtual std::string Location() = 0;
  // Reads up to `capacity` body bytes; 0 at the end of the body.  Raises
  // ENetHTTPResponseException when reading fails.
  virtual size_t Read(char* buffer, size_t capacity) = 0;
};

class IHttpTransport {
 public:
  virtual ~IHttpTransport() = default;
  // Sends a GET and waits for the response headers.  Raises ENetHTTPClientException (cannot
  // resolve, connect, send or receive), ENetHTTPCertificateException or ENetHTTPException.
  virtual std::unique_ptr<IHttpExchange> Send(const std::string& url, const THeaders& headers) = 0;
};

// Receive callback: the announced length (-1 when none) and the body bytes received so far.
// Returning false stops the transfer.
using TReceiveCallback = std::function<bool(int64_t contentLength, int64_t received)>;

// Size of the one buffer that the body passes through on its way to the file.
inline constexpr size_t kReadBufferSize = 256 * 1024;

// A GET of `url` whose body goes into `file` at its current position.
// - Redirects (301, 302, 303, 307, 308 with a Location) are followed up to
//   settings.MaxRedirects times; one more raises ENetHTTPRequestException "Maximum number of
//   redirections (%d) exceeded".  Before a redirect is followed the file is set back to the size
//   it had when the call began, so only the final body stays.  A redirect from https to http is
//   not followed: that response is returned as it is.
// - For a final status below 300 the callback runs once with 0 before the first chunk and after
//   each chunk has been written; when it returns false the transfer stops and the exchange is
//   returned.  For other statuses the body is not read and the callback is not made.
// Returns the final exchange, whose status text the caller may still read.
std::unique_ptr<IHttpExchange> HttpGetToFile(IHttpTransport& transport, const THttpSettings& settings,
                                             const std::string& url, const THeaders& headers,
                                             IDownloadFile& file, const TReceiveCallback& onReceive);

// The absolute URL that `location` names relative to `base` (absolute, scheme-relative,
// absolute-path and relative-path references).
std::string ResolveUrl(const std::string& base, const std::string& location);

}  // namespace qv::dl
