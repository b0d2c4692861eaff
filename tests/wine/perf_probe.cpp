// Timing probe for the benchmark (scripts/benchmark.py), run under Wine beside the installer.
//
//   perf_probe startup EXE CAPTION [TIMEOUT_S]
//       starts EXE and polls until a visible top-level window titled CAPTION exists; prints
//       "ms=M" (from CreateProcess to the window found), then ends that process.  Exit 1 when
//       the window did not show in time.
//   perf_probe ping SECONDS
//       every 10 ms sends WM_NULL to the installer window with a 1 s time-out, for SECONDS;
//       prints one line "at=<unix ms> ms=<answer time, fractional> ok=0|1" per message.
//       Waits up to 20 s for the window first; exit 1 when it never shows.
#include <windows.h>

#include <cstdio>
#include <string>

#include "app/uBrand.h"
#include "platform/win32.h"

using qv::win::Wide;

namespace {

double NowMs() {
  static const double freq = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<double>(f.QuadPart) / 1000.0;
  }();
  LARGE_INTEGER c;
  QueryPerformanceCounter(&c);
  return static_cast<double>(c.QuadPart) / freq;
}

long long UnixMs() {
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  const unsigned long long t = (static_cast<unsigned long long>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  return static_cast<long long>(t / 10000ULL - 11644473600000ULL);
}

HWND FindInstaller() {
  return FindWindowW(Wide(qv::brand::kWindowClassName).c_str(), Wide(qv::brand::kWindowCaption).c_str());
}

int Startup(const wchar_t* exe, const wchar_t* caption, DWORD timeoutMs) {
  std::wstring cmdline = L"\"" + std::wstring(exe) + L"\"";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  const double t0 = NowMs();
  if (!CreateProcessW(exe, cmdline.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
    std::printf("error=%lu\n", GetLastError());
    return 2;
  }
  int rc = 1;
  while (NowMs() - t0 < timeoutMs) {
    if (HWND h = FindWindowW(nullptr, caption); h && IsWindowVisible(h)) {
      std::printf("ms=%.1f\n", NowMs() - t0);
      rc = 0;
      break;
    }
    if (WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0) break;
    Sleep(1);
  }
  // The measured program has done its part; end it without its exit question.
  TerminateProcess(pi.hProcess, 0);
  WaitForSingleObject(pi.hProcess, 10000);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  std::fflush(stdout);
  return rc;
}

int Ping(DWORD seconds) {
  HWND h = nullptr;
  for (int i = 0; i < 2000 && !(h = FindInstaller()); ++i) Sleep(10);
  if (!h) return 1;
  const double end = NowMs() + seconds * 1000.0;
  double next = NowMs();
  while (NowMs() < end && IsWindow(h)) {
    const long long at = UnixMs();
    const double t0 = NowMs();
    DWORD_PTR result = 0;
    const LRESULT ok = SendMessageTimeoutW(h, WM_NULL, 0, 0, SMTO_NORMAL, 1000, &result);
    std::printf("at=%lld ms=%.3f ok=%d\n", at, NowMs() - t0, ok ? 1 : 0);
    next += 10.0;
    const double wait = next - NowMs();
    if (wait > 0) Sleep(static_cast<DWORD>(wait));
    else next = NowMs();
  }
  std::fflush(stdout);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 64;
  const std::wstring cmd = argv[1];
  if (cmd == L"startup" && argc > 3)
    return Startup(argv[2], argv[3], argc > 4 ? static_cast<DWORD>(_wtoi(argv[4]) * 1000) : 30000);
  if (cmd == L"ping" && argc > 2) return Ping(static_cast<DWORD>(_wtoi(argv[2])));
  return 64;
}
