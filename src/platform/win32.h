// Thin Windows helpers: UTF-8/UTF-16 at the API boundary and RAII owners for handles.
#pragma once

#include <windows.h>

#include <objbase.h>

#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

namespace qv::win {

std::wstring Wide(std::string_view utf8);
std::string Narrow(std::wstring_view wide);

// The system's text for an error code (FormatMessageW), trimmed; also knows the messages of
// modules such as winhttp.dll when `module` is given.  Empty when the system has none.
std::string SystemErrorText(DWORD code, HMODULE module = nullptr);

// Whether an open file is plainly the file at `path`: one name only (no hard link), not a reparse
// point, and the handle resolves to that very path.  Files in folders that other programs of the
// user can write to are checked before anything is written through them.
bool IsPlainFileAt(HANDLE file, const std::wstring& path);

// The bytes of an RCDATA resource of `module` (null: the program itself), valid as long as the
// module is loaded.  Empty when the resource is missing or cannot be loaded (GetLastError tells
// why; `found`, when given, tells the two apart).
std::optional<std::string_view> RcData(HMODULE module, std::string_view name, bool* found = nullptr);

// One owner for every kind of Windows resource: a value of type T and how to give it back.
// Move-only; the closer may carry what giving back needs (the window of a DC, the DC of a
// selection).  A closer may also normalise a value on adoption (INVALID_HANDLE_VALUE -> null).
template <class T, class Closer>
class Owned {
 public:
  Owned() = default;
  explicit Owned(T v, Closer closer = Closer{}) : v_(Adopt(v)), closer_(std::move(closer)) {}
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;
  Owned(Owned&& o) noexcept : v_(std::exchange(o.v_, T{})), closer_(std::move(o.closer_)) {}
  Owned& operator=(Owned&& o) noexcept {
    if (this != &o) {
      reset();
      v_ = std::exchange(o.v_, T{});
      closer_ = std::move(o.closer_);
    }
    return *this;
  }
  ~Owned() { reset(); }
  void reset(T v = T{}) {
    if (v_) closer_(v_);
    v_ = Adopt(v);
  }
  T get() const { return v_; }
  T release() { return std::exchange(v_, T{}); }
  // For functions that hand out a new value through a pointer (COM factories).
  T* put() {
    reset();
    return &v_;
  }
  T operator->() const requires std::is_pointer_v<T> { return v_; }
  explicit operator bool() const { return v_ != T{}; }

 private:
  static T Adopt(T v) {
    if constexpr (requires { Closer::Adopt(v); }) return Closer::Adopt(v);
    else return v;
  }
  T v_{};
  Closer closer_{};
};

struct CloseKernelHandle {
  static HANDLE Adopt(HANDLE h) { return h == INVALID_HANDLE_VALUE ? nullptr : h; }
  void operator()(HANDLE h) const { CloseHandle(h); }
};
struct DeleteGdiObject {
  void operator()(HGDIOBJ o) const { DeleteObject(o); }
};
struct DeleteMemoryDc {
  void operator()(HDC dc) const { DeleteDC(dc); }
};
struct ReleaseWindowDc {
  HWND window = nullptr;
  void operator()(HDC dc) const { ReleaseDC(window, dc); }
};
struct RestoreSelection {
  HDC dc = nullptr;
  void operator()(HGDIOBJ previous) const { SelectObject(dc, previous); }
};
struct ReleaseComObject {
  void operator()(IUnknown* p) const { p->Release(); }
};

using Handle = Owned<HANDLE, CloseKernelHandle>;
template <class T>
using GdiObject = Owned<T, DeleteGdiObject>;  // HBITMAP, HFONT, HBRUSH, HPEN
using MemoryDc = Owned<HDC, DeleteMemoryDc>;
using WindowDc = Owned<HDC, ReleaseWindowDc>;
using Selection = Owned<HGDIOBJ, RestoreSelection>;
template <class I>
using ComPtr = Owned<I*, ReleaseComObject>;

inline WindowDc GetWindowDc(HWND window) { return WindowDc(GetDC(window), ReleaseWindowDc{window}); }
inline MemoryDc CreateMemoryDc(HDC compatible) { return MemoryDc(CreateCompatibleDC(compatible)); }
// Selects `object` into `dc` until the returned owner ends.
inline Selection Select(HDC dc, HGDIOBJ object) { return Selection(SelectObject(dc, object), RestoreSelection{dc}); }

}  // namespace qv::win
