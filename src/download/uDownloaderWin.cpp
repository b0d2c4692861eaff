// The download worker's Windows parts: the HTTP transport over WinHTTP, the destination file
// over CreateFileW, GetTickCount and the call onto the user-interface thread.
#include <windows.h>

#include <winhttp.h>
#include <bcrypt.h>

#include <algorithm>

#include <string>

#include "core/format.h"
#include "download/uDownloader.h"
#include "platform/ui_thread.h"
#include "platform/win32.h"
#include "platform/winhttp.h"

namespace qv {
namespace {

using dl::TDownloadError;
using win::HInternet;
using win::Narrow;
using win::Wide;

// ---- WinHTTP ------------------------------------------------------------------------------

[[noreturn]] void RaiseNet(const char* category, const char* form, DWORD code) {
  throw TDownloadError(category, Format(form, {static_cast<unsigned long>(code), win::WinHttpErrorText(code)}));
}

// Sending and receiving the response: a certificate the system does not accept has its own
// category; everything else is a failure of the client.
[[noreturn]] void RaiseExchange(const char* form, DWORD code) {
  if (win::IsCertificateError(code)) {
    RaiseNet(dl::kNetCertificateError, "Server Certificate not accepted: (%d) %s", code);
  }
  RaiseNet(dl::kNetClientError, form, code);
}

// A header as text; `found` false when the response has none.
std::wstring QueryHeader(HINTERNET request, DWORD query, bool& found) {
  found = false;
  DWORD size = 0;
  WinHttpQueryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER, &size,
                      WINHTTP_NO_HEADER_INDEX);
  DWORD err = GetLastError();
  if (err == ERROR_WINHTTP_HEADER_NOT_FOUND) return {};
  if (err != ERROR_INSUFFICIENT_BUFFER) RaiseNet(dl::kNetHeaderError, "Error querying headers: (%d) %s", err);
  std::wstring value(size / sizeof(wchar_t) + 1, L'\0');
  if (!WinHttpQueryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX, value.data(), &size,
                           WINHTTP_NO_HEADER_INDEX)) {
    RaiseNet(dl::kNetHeaderError, "Error querying headers: (%d) %s", GetLastError());
  }
  value.resize(size / sizeof(wchar_t));
  found = true;
  return value;
}

class WinHttpExchange final : public dl::IHttpExchange {
 public:
  WinHttpExchange(HInternet connection, HInternet request)
      : connection_(std::move(connection)), request_(std::move(request)) {
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!WinHttpQueryHeaders(request_.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX)) {
      RaiseNet(dl::kNetHeaderError, "Error querying headers: (%d) %s", GetLastError());
    }
    status_ = static_cast<int>(status);
    bool found = false;
    const std::wstring length = QueryHeader(request_.get(), WINHTTP_QUERY_CONTENT_LENGTH, found);
    if (found) {
      try {
        length_ = std::stoll(length);
      } catch (...) {
        length_ = -1;
      }
      if (length_ < 0) length_ = -1;
    }
    location_ = Narrow(QueryHeader(request_.get(), WINHTTP_QUERY_LOCATION, found));
  }

  int StatusCode() override { return status_; }
  std::string StatusText() override {
    bool found = false;
    return Narrow(QueryHeader(request_.get(), WINHTTP_QUERY_STATUS_TEXT, found));
  }
  int64_t ContentLength() override { return length_; }
  std::string Location() override { return location_; }

  size_t Read(char* buffer, size_t capacity) override {
    // Wait for what the server has sent and take that much: a read that asked for a whole
    // buffer would wait for it to fill (Wine does), holding back bytes already received.
    DWORD available = 0;
    if (!WinHttpQueryDataAvailable(request_.get(), &available)) {
      RaiseNet(dl::kNetResponseError, "Error reading data: (%d) %s", GetLastError());
    }
    if (available == 0) return 0;
    DWORD n = 0;
    const DWORD want = available < capacity ? available : static_cast<DWORD>(capacity);
    if (!WinHttpReadData(request_.get(), buffer, want, &n)) {
      RaiseNet(dl::kNetResponseError, "Error reading data: (%d) %s", GetLastError());
    }
    return n;
  }

 private:
  HInternet connection_;
  HInternet request_;
  int status_ = 0;
  int64_t length_ = -1;
  std::string location_;
};

class WinHttpTransport final : public dl::IHttpTransport {
 public:
  explicit WinHttpTransport(const dl::THttpSettings& settings) {
    const std::wstring agent = Wide(settings.UserAgent);
    // The system's proxy settings where the system offers them (Windows 8.1 and later).
    session_ = HInternet(WinHttpOpen(agent.c_str(), WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY,
                                     WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session_) {
      session_ = HInternet(WinHttpOpen(agent.c_str(), WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                       WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    }
    if (!session_) RaiseNet(dl::kNetClientError, "Error sending data: (%d) %s", GetLastError());
    // The send time-out keeps the client's default.
    SetTimeout(WINHTTP_OPTION_RESOLVE_TIMEOUT, settings.ConnectTimeoutMs);
    SetTimeout(WINHTTP_OPTION_CONNECT_TIMEOUT, settings.ConnectTimeoutMs);
    SetTimeout(WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, settings.ResponseTimeoutMs);
    SetTimeout(WINHTTP_OPTION_RECEIVE_TIMEOUT, settings.ResponseTimeoutMs);
    SetTimeout(WINHTTP_OPTION_SEND_TIMEOUT, settings.SendTimeoutMs);
  }

  std::unique_ptr<dl::IHttpExchange> Send(const std::string& url, const dl::THeaders& headers) override {
    const std::wstring wurl = Wide(url);
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwSchemeLength = parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength =
        static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(wurl.c_str(), static_cast<DWORD>(wurl.size()), 0, &parts)) {
      RaiseNet(dl::kNetClientError, "Error sending data: (%d) %s", GetLastError());
    }
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    std::wstring object(parts.lpszUrlPath, parts.dwUrlPathLength);
    object.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (object.empty()) object = L"/";
    const bool secure = parts.nScheme == INTERNET_SCHEME_HTTPS;

    HInternet connection(WinHttpConnect(session_.get(), host.c_str(), parts.nPort, 0));
    if (!connection) RaiseNet(dl::kNetClientError, "Error sending data: (%d) %s", GetLastError());
    HInternet request(WinHttpOpenRequest(connection.get(), L"GET", object.c_str(), nullptr,
                                         WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                         secure ? WINHTTP_FLAG_SECURE : 0));
    if (!request) RaiseNet(dl::kNetClientError, "Error sending data: (%d) %s", GetLastError());
    // Redirects are followed by the caller, which counts them and resets the file.
    DWORD policy = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
    WinHttpSetOption(request.get(), WINHTTP_OPTION_REDIRECT_POLICY, &policy, sizeof policy);
    DWORD disable = WINHTTP_DISABLE_REDIRECTS;
    WinHttpSetOption(request.get(), WINHTTP_OPTION_DISABLE_FEATURE, &disable, sizeof disable);

    std::wstring extra;
    for (const auto& [name, value] : headers) extra += Wide(name) + L": " + Wide(value) + L"\r\n";
    if (!WinHttpSendRequest(request.get(), extra.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : extra.c_str(),
                            static_cast<DWORD>(extra.size()), WINHTTP_NO_REQUEST_DATA, 0, 0, 0)) {
      RaiseExchange("Error sending data: (%d) %s", GetLastError());
    }
    if (!WinHttpReceiveResponse(request.get(), nullptr)) {
      RaiseExchange("Error receiving data: (%d) %s", GetLastError());
    }
    return std::make_unique<WinHttpExchange>(std::move(connection), std::move(request));
  }

 private:
  void SetTimeout(DWORD option, int ms) {
    DWORD value = static_cast<DWORD>(ms);
    WinHttpSetOption(session_.get(), option, &value, sizeof value);
  }

  HInternet session_;
};

// ---- Files ----------------------------------------------------------------------------------

class WinFile final : public dl::IDownloadFile {
 public:
  WinFile(win::Handle h, std::string path) : h_(std::move(h)), path_(std::move(path)) {}

  int64_t Size() override {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(h_.get(), &size)) {
      throw TDownloadError("EStreamError", Format("Cannot read the size of file \"%s\". %s",
                                                  {path_, win::SystemErrorText(GetLastError())}));
    }
    return size.QuadPart;
  }

  void Truncate(int64_t size) override {
    LARGE_INTEGER pos{};
    pos.QuadPart = size;
    if (!SetFilePointerEx(h_.get(), pos, nullptr, FILE_BEGIN) || !SetEndOfFile(h_.get())) {
      throw TDownloadError("EStreamError", Format("Cannot set the size of file \"%s\". %s",
                                                  {path_, win::SystemErrorText(GetLastError())}));
    }
  }

  void Write(const char* data, size_t size) override {
    while (size > 0) {
      const DWORD chunk = static_cast<DWORD>(size > 0x40000000 ? 0x40000000 : size);
      DWORD written = 0;
      if (!WriteFile(h_.get(), data, chunk, &written, nullptr)) {
        const DWORD err = GetLastError();
        const std::string text = win::SystemErrorText(err);
        throw TDownloadError(dl::kFileWriteError, text.empty() ? "Stream write error" : "Stream write error: " + text);
      }
      if (written == 0) throw TDownloadError(dl::kFileWriteError, "Stream write error");
      data += written;
      size -= written;
    }
  }

  size_t ReadAt(int64_t offset, char* buffer, size_t size) override {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(offset) >> 32);
    DWORD read = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, 0x40000000));
    if (!ReadFile(h_.get(), buffer, chunk, &read, &at) && GetLastError() != ERROR_HANDLE_EOF)
      throw TDownloadError(dl::kFileReadError, "Stream read error: " + win::SystemErrorText(GetLastError()));
    return read;
  }

  bool IsPlain() override { return win::IsPlainFileAt(h_.get(), Wide(path_)); }

 private:
  win::Handle h_;
  std::string path_;
};

class WinLockedFile final : public dl::ILockedFile {
 public:
  explicit WinLockedFile(win::Handle h) : h_(std::move(h)) {}
  size_t Read(char* buffer, size_t size) override {
    DWORD read = 0;
    if (!ReadFile(h_.get(), buffer, static_cast<DWORD>(std::min<size_t>(size, 0x40000000)), &read, nullptr))
      throw TDownloadError(dl::kFileReadError, "Stream read error: " + win::SystemErrorText(GetLastError()));
    return read;
  }

 private:
  win::Handle h_;
};

// SHA-256 from the system's cryptography (bcrypt.dll).
struct DestroyHash {
  void operator()(BCRYPT_HASH_HANDLE h) const { BCryptDestroyHash(h); }
};
using HashHandle = win::Owned<BCRYPT_HASH_HANDLE, DestroyHash>;

BCRYPT_ALG_HANDLE Sha256Provider() {
  // Opened once for the process; the provider can be shared between threads.
  static const BCRYPT_ALG_HANDLE provider = [] {
    BCRYPT_ALG_HANDLE p = nullptr;
    return BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&p, BCRYPT_SHA256_ALGORITHM, nullptr, 0)) ? p : nullptr;
  }();
  return provider;
}

class Sha256 final : public dl::IDigest {
 public:
  Sha256() {
    BCRYPT_HASH_HANDLE h = nullptr;
    if (!Sha256Provider() || !BCRYPT_SUCCESS(BCryptCreateHash(Sha256Provider(), &h, nullptr, 0, nullptr, 0, 0)))
      throw TDownloadError("EHashError", "SHA-256 is not available");
    h_.reset(h);
  }
  void Update(const char* data, size_t size) override {
    while (size > 0) {
      const ULONG chunk = static_cast<ULONG>(std::min<size_t>(size, 0x40000000));
      if (!BCRYPT_SUCCESS(BCryptHashData(h_.get(), reinterpret_cast<PUCHAR>(const_cast<char*>(data)), chunk, 0)))
        throw TDownloadError("EHashError", "SHA-256 failed");
      data += chunk;
      size -= chunk;
    }
  }
  std::unique_ptr<dl::IDigest> Clone() const override { return std::unique_ptr<dl::IDigest>(new Sha256(Duplicate())); }
  std::string Value() const override {
    HashHandle copy = Duplicate();
    std::string value(32, '\0');
    if (!BCRYPT_SUCCESS(BCryptFinishHash(copy.get(), reinterpret_cast<PUCHAR>(value.data()), 32, 0)))
      throw TDownloadError("EHashError", "SHA-256 failed");
    return value;
  }

 private:
  explicit Sha256(HashHandle h) : h_(std::move(h)) {}
  HashHandle Duplicate() const {
    BCRYPT_HASH_HANDLE copy = nullptr;
    if (!BCRYPT_SUCCESS(BCryptDuplicateHash(h_.get(), &copy, nullptr, 0, 0)))
      throw TDownloadError("EHashError", "SHA-256 failed");
    return HashHandle(copy);
  }
  HashHandle h_;
};

class WinFileSystem final : public dl::IFileSystem {
 public:
  std::unique_ptr<dl::ILockedFile> OpenLocked(const std::string& path) override {
    // Others may read it (the installer reads itself), never write, rename or delete it.
    win::Handle h(CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!h)
      throw TDownloadError(dl::kFileOpenError,
                           Format("Cannot open file \"%s\". %s", {path, win::SystemErrorText(GetLastError())}));
    return std::make_unique<WinLockedFile>(std::move(h));
  }

  bool Exists(const std::string& path) override {
    return GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
  }

  std::unique_ptr<dl::IDownloadFile> OpenExisting(const std::string& path) override {
    return Open(path, OPEN_EXISTING, dl::kFileOpenError, "Cannot open file \"%s\". %s");
  }

  std::unique_ptr<dl::IDownloadFile> Create(const std::string& path) override {
    // The name goes first: an existing file may be a link that another program planted.
    DeleteFileW(Wide(path).c_str());
    return Open(path, CREATE_NEW, dl::kFileCreateError, "Cannot create file \"%s\". %s");
  }

  void Delete(const std::string& path) noexcept override {
    try {
      DeleteFileW(Wide(path).c_str());
    } catch (...) {
    }
  }

 private:
  static std::unique_ptr<dl::IDownloadFile> Open(const std::string& path, DWORD disposition,
                                                 const char* category, const char* form) {
    // A junction or symbolic link is opened itself, not followed (and then is not plain).
    win::Handle h(CreateFileW(Wide(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, disposition,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!h) throw TDownloadError(category, Format(form, {path, win::SystemErrorText(GetLastError())}));
    return std::make_unique<WinFile>(std::move(h), path);
  }
};

}  // namespace

std::unique_ptr<dl::IDigest> TDownloadThread::NewDigest() { return std::make_unique<Sha256>(); }

TDownloadThread* TDownloadThread::Create(std::string AUrl, std::string ADestFile, int64_t AResumeFrom,
                                         std::unique_ptr<dl::IDigest> AResumeDigest) {
  TDownloadServices services;
  services.CreateHttp = [](const dl::THttpSettings& settings) -> std::unique_ptr<dl::IHttpTransport> {
    return std::make_unique<WinHttpTransport>(settings);
  };
  services.Files = std::make_shared<WinFileSystem>();
  services.TickCount = [] { return static_cast<uint32_t>(GetTickCount()); };
  services.RunOnUiThread = [](const std::function<void()>& fn) { return ui::RunOnUiThread(fn); };
  services.CreateDigest = NewDigest;
#ifdef QV_TEST_HOOKS
  // Test builds: a pause between the end of the transfer and the check of the file, so that a
  // test can change the file in that gap.
  if (const DWORD pause = GetEnvironmentVariableW(L"QV_TEST_PAUSE_BEFORE_CHECK_MS", nullptr, 0)) {
    std::wstring ms(pause, L'\0');
    GetEnvironmentVariableW(L"QV_TEST_PAUSE_BEFORE_CHECK_MS", ms.data(), pause);
    const DWORD wait = static_cast<DWORD>(_wtoi(ms.c_str()));
    services.BeforeCheck = [wait] { Sleep(wait); };
  }
#endif
  return CreateWith(std::move(AUrl), std::move(ADestFile), AResumeFrom, std::move(services), std::move(AResumeDigest));
}

}  // namespace qv
