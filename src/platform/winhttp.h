// Shared pieces of the program's two WinHTTP clients (the download worker and the usage-event
// sender): handle ownership, error texts and the certificate-error test.
#pragma once

#include <windows.h>

#include <winhttp.h>

#include <string>
#include <utility>

namespace qv::win {

class HInternet {
 public:
  HInternet() = default;
  explicit HInternet(HINTERNET h) : h_(h) {}
  HInternet(const HInternet&) = delete;
  HInternet& operator=(const HInternet&) = delete;
  HInternet(HInternet&& o) noexcept : h_(std::exchange(o.h_, nullptr)) {}
  HInternet& operator=(HInternet&& o) noexcept {
    if (this != &o) {
      if (h_) WinHttpCloseHandle(h_);
      h_ = std::exchange(o.h_, nullptr);
    }
    return *this;
  }
  ~HInternet() {
    if (h_) WinHttpCloseHandle(h_);
  }
  HINTERNET get() const { return h_; }
  explicit operator bool() const { return h_ != nullptr; }

 private:
  HINTERNET h_ = nullptr;
};

// The text of a WinHTTP or socket error: winhttp.dll's message table, then the system's, then
// the standard Windows wording for the codes a transfer meets (Wine's winhttp.dll has no
// message table, and few socket texts), else "Unknown error".
std::string WinHttpErrorText(DWORD code);

// Errors that mean the server's certificate was not accepted.
bool IsCertificateError(DWORD code);

}  // namespace qv::win
