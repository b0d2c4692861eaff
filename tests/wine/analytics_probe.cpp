// Test program for the usage-event sender under Wine.
//   analytics_probe clientid                         makes the run's client id, prints two bodies
//   analytics_probe track HOST LOG STOP NAME REASON [NAME REASON ...]
//        sends the events to HOST (host:port), prints how long the calls took, then waits until
//        the file STOP exists (at most 60 s) before it closes the log and ends
//   analytics_probe product LOG STOP NAME REASON     the same through TrackEvent (built-in host)
//   analytics_probe exit HOST LOG DELAY_MS           sends one event, closes the log after
//        DELAY_MS and returns from main while the event may still be under way
//   analytics_probe late HOST LOG FINALIZE_MS HOLD_MS  sends one event, closes the log after
//        FINALIZE_MS and keeps the process alive for HOLD_MS more
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "analytics/uAnalytics.h"
#include "analytics/uAnalyticsWin.h"
#include "app/uLogger.h"
#include "platform/win32.h"

using qv::win::Narrow;

namespace {

void Out(const std::string& s) {
  fwrite(s.data(), 1, s.size(), stdout);
  fflush(stdout);
}

void WaitForFile(const wchar_t* path) {
  for (int i = 0; i < 1200 && GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES; ++i) Sleep(50);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring cmd = argc > 1 ? argv[1] : L"";
  if (cmd == L"clientid") {
    qv::InitClientId();
    Out(qv::BuildEventPayload("a", "") + "\n" + qv::BuildEventPayload("b", "r") + "\n");
    return 0;
  }
  if ((cmd == L"track" && argc >= 7 && argc % 2 == 1) || (cmd == L"product" && argc == 6)) {
    const bool product = cmd == L"product";
    const int first = product ? 4 : 5;
    qv::LoggerStartupAt(Narrow(argv[product ? 2 : 3]));
    qv::InitClientId();
    const auto start = std::chrono::steady_clock::now();
    for (int i = first; i + 1 < argc; i += 2) {
      if (product) qv::TrackEvent(Narrow(argv[i]), Narrow(argv[i + 1]));
      else qv::TrackEventTo(Narrow(argv[2]), Narrow(argv[i]), Narrow(argv[i + 1]));
    }
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    Out("returned_ms=" + std::to_string(ms.count()) + "\n");
    WaitForFile(argv[product ? 3 : 4]);
    qv::LoggerFinalize();
    return 0;
  }
  if (cmd == L"exit" && argc == 5) {
    qv::LoggerStartupAt(Narrow(argv[3]));
    qv::InitClientId();
    qv::TrackEventTo(Narrow(argv[2]), "install_cancelled", "");
    Sleep(static_cast<DWORD>(_wtoi(argv[4])));
    qv::LoggerFinalize();
    return 0;  // static destructors and process exit run with the event thread still busy
  }
  if (cmd == L"late" && argc == 6) {
    qv::LoggerStartupAt(Narrow(argv[3]));
    qv::InitClientId();
    qv::TrackEventTo(Narrow(argv[2]), "offline_download", "");
    Sleep(static_cast<DWORD>(_wtoi(argv[4])));
    qv::LoggerFinalize();
    Sleep(static_cast<DWORD>(_wtoi(argv[5])));
    return 0;
  }
  return 64;
}
