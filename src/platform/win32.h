// Thin Windows helpers: UTF-8/UTF-16 at the API boundary and RAII owners for handles.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace qv::win {

std::wstring Wide(std::string_view utf8);
std::string Narrow(std::wstring_view wide);

// The system's text for an error code (FormatMessageW), trimmed; also knows the messages of
// modules such as winhttp.dll when `module` is given.  Empty when the system has none.
std::string SystemErrorText(DWORD code, HMODULE module = nullptr);

// The bytes of an RCDATA resource of `module` (null: the program itself), valid as long as the
// module is loaded.  Empty when the resource is missing or cannot be loaded (GetLastError tells
// why; `found`, when given, tells the two apart).
std::optional<std::string_view> RcData(HMODULE module, std::string_view name, bool* found = nullptr);

class Handle {
 public:
  Handle() = default;
  explicit Handle(HANDLE h) : h_(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  Handle(Handle&& o) noexcept : h_(std::exchange(o.h_, nullptr)) {}
  Handle& operator=(Handle&& o) noexcept {
    if (this != &o) { reset(); h_ = std::exchange(o.h_, nullptr); }
    return *this;
  }
  ~Handle() { reset(); }
  void reset(HANDLE h = nullptr) {
    if (h_) CloseHandle(h_);
    h_ = (h == INVALID_HANDLE_VALUE) ? nullptr : h;
  }
  HANDLE get() const { return h_; }
  HANDLE release() { return std::exchange(h_, nullptr); }
  explicit operator bool() const { return h_ != nullptr; }

 private:
  HANDLE h_ = nullptr;
};

}  // namespace qv::win
