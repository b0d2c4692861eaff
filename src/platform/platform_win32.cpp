// Windows implementation of the platform services.
#include "platform/platform.h"
#include "platform/win32.h"
#include "core/strings.h"

#include <vector>

namespace qv::win {

std::wstring Wide(std::string_view utf8) {
  if (utf8.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring w(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), w.data(), n);
  return w;
}

std::string Narrow(std::wstring_view wide) {
  if (wide.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                    nullptr, nullptr);
  std::string s(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), s.data(), n, nullptr, nullptr);
  return s;
}

std::string SystemErrorText(DWORD code, HMODULE module) {
  wchar_t* buf = nullptr;
  DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                (module ? FORMAT_MESSAGE_FROM_HMODULE : FORMAT_MESSAGE_FROM_SYSTEM);
  DWORD n = FormatMessageW(flags, module, code, 0, reinterpret_cast<wchar_t*>(&buf), 0, nullptr);
  if (n == 0 && module) {
    n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                           FORMAT_MESSAGE_FROM_SYSTEM,
                       nullptr, code, 0, reinterpret_cast<wchar_t*>(&buf), 0, nullptr);
  }
  std::string s = n ? Narrow(std::wstring_view(buf, n)) : std::string();
  if (buf) LocalFree(buf);
  return qv::Trim(s);
}

bool IsPlainFileAt(HANDLE file, const std::wstring& path) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(file, &info)) return false;
  if (info.nNumberOfLinks != 1 || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) return false;
  std::wstring resolved(MAX_PATH, L'\0');
  DWORD n = GetFinalPathNameByHandleW(file, resolved.data(), static_cast<DWORD>(resolved.size()),
                                      FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (n >= resolved.size()) {
    resolved.resize(n + 1);
    n = GetFinalPathNameByHandleW(file, resolved.data(), static_cast<DWORD>(resolved.size()),
                                  FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  }
  // Some file systems cannot name the path of a handle: the two checks above stand alone then.
  if (n == 0 || n >= resolved.size()) return true;
  resolved.resize(n);
  if (resolved.rfind(L"\\\\?\\UNC\\", 0) == 0) resolved = L"\\\\" + resolved.substr(8);
  else if (resolved.rfind(L"\\\\?\\", 0) == 0) resolved = resolved.substr(4);
  // The intended path in the same long, full form.
  std::wstring full(MAX_PATH, L'\0');
  DWORD m = GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
  if (m == 0 || m >= full.size()) return false;
  full.resize(m);
  std::wstring longPath(MAX_PATH * 2, L'\0');
  m = GetLongPathNameW(full.c_str(), longPath.data(), static_cast<DWORD>(longPath.size()));
  if (m > 0 && m < longPath.size()) full.assign(longPath.data(), m);
  return CompareStringOrdinal(resolved.c_str(), static_cast<int>(resolved.size()), full.c_str(), static_cast<int>(full.size()),
                              TRUE) == CSTR_EQUAL;
}

std::optional<std::string_view> RcData(HMODULE module, std::string_view name, bool* found) {
  if (found) *found = false;
  HRSRC info = FindResourceW(module, Wide(name).c_str(), RT_RCDATA);
  if (!info) return std::nullopt;
  if (found) *found = true;
  HGLOBAL loaded = LoadResource(module, info);
  const void* data = loaded ? LockResource(loaded) : nullptr;
  if (!data) return std::nullopt;
  return std::string_view(static_cast<const char*>(data), SizeofResource(module, info));
}

}  // namespace qv::win

namespace qv::platform {

using win::Narrow;
using win::Wide;

LocalTime Now() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  return {st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds};
}

std::string TimeSeparator() {
  wchar_t buf[8] = {};
  if (GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_STIME, buf, 8) > 1) return Narrow(buf);
  return ":";
}

std::string TempFolder() {
  wchar_t buf[MAX_PATH + 1] = {};
  const DWORD n = GetTempPathW(MAX_PATH + 1, buf);
  if (n == 0 || n > MAX_PATH) return {};
  std::wstring longPath(32768, L'\0');
  const DWORD m = GetLongPathNameW(buf, longPath.data(), static_cast<DWORD>(longPath.size()));
  if (m == 0 || m >= longPath.size()) return Narrow(std::wstring_view(buf, n));
  longPath.resize(m);
  return Narrow(longPath);
}

std::string ExePath() {
  std::wstring buf(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return {};
    if (n < buf.size()) { buf.resize(n); return Narrow(buf); }
    buf.resize(buf.size() * 2);
  }
}

static std::wstring RegString(const wchar_t* value) {
  wchar_t buf[256] = {};
  DWORD size = sizeof buf;
  if (RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", value,
                   RRF_RT_REG_SZ, nullptr, buf, &size) != ERROR_SUCCESS)
    return {};
  return buf;
}

std::string OsDescription() {
  // RtlGetVersion reports the real version whatever the manifest says.
  OSVERSIONINFOW vi{};
  vi.dwOSVersionInfoSize = sizeof vi;
  using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
  if (HMODULE ntdll = GetModuleHandleW(L"ntdll.dll")) {
    if (auto fn = reinterpret_cast<RtlGetVersionFn>(
            reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion"))))
      fn(&vi);
  }
  std::string product = Narrow(RegString(L"ProductName"));
  if (product.empty()) product = "Windows";
  // Windows 11 still names itself "Windows 10" in the registry; the build number tells.
  if (vi.dwMajorVersion == 10 && vi.dwBuildNumber >= 22000) {
    const auto at = product.find("Windows 10");
    if (at != std::string::npos) product.replace(at, 10, "Windows 11");
  }
  const std::string display = Narrow(RegString(L"DisplayVersion"));
  BOOL wow64 = FALSE;
  IsWow64Process(GetCurrentProcess(), &wow64);
  const bool is64 = sizeof(void*) == 8 || wow64;
  std::string s = product;
  if (!display.empty()) s += " " + display;
  s += " (version " + std::to_string(vi.dwMajorVersion) + "." + std::to_string(vi.dwMinorVersion) +
       ", build " + std::to_string(vi.dwBuildNumber) + "), " + (is64 ? "64-bit" : "32-bit");
  return s;
}

std::string GetEnv(const std::string& name) {
  const std::wstring wname = Wide(name);
  const DWORD n = GetEnvironmentVariableW(wname.c_str(), nullptr, 0);
  if (n == 0) return {};
  std::wstring buf(n, L'\0');
  const DWORD m = GetEnvironmentVariableW(wname.c_str(), buf.data(), n);
  buf.resize(m < n ? m : 0);
  return Narrow(buf);
}

bool AppendExclusive(const std::string& path, const std::function<std::string(bool, bool)>& make) {
  const std::wstring wpath = Wide(path);
  // An existing file is opened for writing only, without sharing; a missing one is created.
  // FILE_FLAG_OPEN_REPARSE_POINT: a junction or symbolic link is opened itself, not followed.
  HANDLE h = CreateFileW(wpath.c_str(), GENERIC_WRITE | GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  bool replaced = false;
  if (h != INVALID_HANDLE_VALUE && !win::IsPlainFileAt(h, wpath)) {
    CloseHandle(h);
    h = INVALID_HANDLE_VALUE;
    if (!DeleteFileW(wpath.c_str())) return false;  // the name only, never the target
    SetLastError(ERROR_FILE_NOT_FOUND);
    replaced = true;
  }
  if (h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND) {
    h = CreateFileW(wpath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                    FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  if (h == INVALID_HANDLE_VALUE) return false;
  win::Handle file(h);
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(h, &size)) return false;
  LARGE_INTEGER zero{};
  if (!SetFilePointerEx(h, zero, nullptr, FILE_END)) return false;
  const std::string bytes = make(size.QuadPart == 0, replaced);
  DWORD written = 0;
  return WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
}

bool DeleteFileAt(const std::string& path) { return DeleteFileW(Wide(path).c_str()) != 0; }

uint32_t TickCount() { return GetTickCount(); }

}  // namespace qv::platform
