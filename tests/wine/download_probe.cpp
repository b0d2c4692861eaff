// Runs one real download worker under a real message loop and writes what its owner sees,
// one JSON object a line, to OUT:
//   {"ev":"progress","read":N,"total":N,"ms":T}       T: milliseconds since the start
//   {"ev":"complete","success":b,"msg":"...","kind":"...","status":N,"bytesOnDisk":N,"ms":T}
//   {"ev":"exit","peakWorkingSet":N,"cpuSeconds":X,"progressCount":N}
//
//   download_probe URL DEST RESUME OUT LOG [--cancel-at BYTES] [--drop-ui-at BYTES]
//
// --cancel-at calls Cancel from the progress handler once BytesRead reaches BYTES.
// --drop-ui-at destroys the UI thread's dispatcher from the progress handler (the window is
// gone); the program then waits until the worker has removed the partial file.
#include <windows.h>

#include <psapi.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "app/uLogger.h"
#include "download/uDownloader.h"
#include "platform/ui_thread.h"
#include "platform/win32.h"

namespace {

FILE* g_out = nullptr;
const auto g_start = std::chrono::steady_clock::now();
int64_t g_cancelAt = -1;
int64_t g_dropUiAt = -1;
bool g_uiDropped = false;
long g_progressCount = 0;
std::wstring g_dest;
// Thread timers: the system chooses their ids.
UINT_PTR g_guardTimer = 0;
UINT_PTR g_watchTimer = 0;

double Ms() {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - g_start).count();
}

void Emit(const nlohmann::json& j) {
  const std::string line = j.dump() + "\n";
  fwrite(line.data(), 1, line.size(), g_out);
  fflush(g_out);
}

double FileTimeSeconds(const FILETIME& ft) {
  ULARGE_INTEGER u;
  u.LowPart = ft.dwLowDateTime;
  u.HighPart = ft.dwHighDateTime;
  return static_cast<double>(u.QuadPart) / 1e7;
}

void CALLBACK OnTimer(HWND, UINT, UINT_PTR id, DWORD) {
  if (id == g_guardTimer) {
    Emit({{"ev", "timeout"}, {"ms", Ms()}});
    PostQuitMessage(3);
  } else if (id == g_watchTimer && g_uiDropped) {
    // With no window left the worker reports nothing; it is done once its file is gone.
    if (GetFileAttributesW(g_dest.c_str()) == INVALID_FILE_ATTRIBUTES) {
      Emit({{"ev", "file_removed"}, {"ms", Ms()}});
      PostQuitMessage(0);
    }
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 6) {
    fprintf(stderr, "usage: download_probe URL DEST RESUME OUT LOG [--cancel-at N] [--drop-ui-at N]\n");
    return 2;
  }
  const std::string url = qv::win::Narrow(argv[1]);
  const std::string dest = qv::win::Narrow(argv[2]);
  g_dest = argv[2];
  const int64_t resume = _wtoi64(argv[3]);
  g_out = _wfopen(argv[4], L"wb");
  if (!g_out) return 2;
  for (int i = 6; i + 1 < argc; i += 2) {
    const std::wstring opt = argv[i];
    if (opt == L"--cancel-at") g_cancelAt = _wtoi64(argv[i + 1]);
    if (opt == L"--drop-ui-at") g_dropUiAt = _wtoi64(argv[i + 1]);
  }
  qv::LoggerStartupAt(qv::win::Narrow(argv[5]));
  qv::ui::InitUiThread();

  // A resumed download gets the digest of the kept bytes, as the attempt that wrote them would
  // hand it on (the test put those bytes there).
  std::unique_ptr<qv::dl::IDigest> kept;
  const wchar_t* keptFrom = argv[2];
  for (int i = 6; i + 1 < argc; i += 2)
    if (std::wstring(argv[i]) == L"--kept-from") keptFrom = argv[i + 1];  // a copy, when the file is held
  if (resume > 0) {
    FILE* f = _wfopen(keptFrom, L"rb");
    if (f) {
      kept = qv::TDownloadThread::NewDigest();
      std::vector<char> buf(static_cast<size_t>(resume));
      const size_t n = fread(buf.data(), 1, buf.size(), f);
      fclose(f);
      kept->Update(buf.data(), n);
    }
  }
  qv::TDownloadThread* worker = qv::TDownloadThread::Create(url, dest, resume, std::move(kept));
  worker->SetOnProgress([](qv::TDownloadThread* sender, int64_t read, int64_t total) {
    ++g_progressCount;
    Emit({{"ev", "progress"}, {"read", read}, {"total", total}, {"ms", Ms()}});
    if (g_cancelAt >= 0 && read >= g_cancelAt) sender->Cancel();
    if (g_dropUiAt >= 0 && read >= g_dropUiAt && !g_uiDropped) {
      g_uiDropped = true;
      Emit({{"ev", "ui_gone"}, {"ms", Ms()}});
      qv::ui::ShutdownUiThread();
    }
  });
  worker->SetOnComplete([](qv::TDownloadThread* sender, bool success, const std::string& msg) {
    Emit({{"ev", "complete"},
          {"success", success},
          {"msg", msg},
          {"kind", sender->FailKind()},
          {"status", sender->HttpStatus()},
          {"bytesOnDisk", sender->BytesOnDisk()},
          {"ms", Ms()}});
    PostQuitMessage(0);
  });
  worker->Start();

  g_guardTimer = SetTimer(nullptr, 0, 100000, OnTimer);
  g_watchTimer = SetTimer(nullptr, 0, 20, OnTimer);
  MSG msg;
  int rc = 0;
  for (;;) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0) {
      rc = static_cast<int>(msg.wParam);
      break;
    }
    if (got < 0) {
      rc = 4;
      break;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  // The worker frees itself once OnComplete has returned; give it that moment before the
  // process ends so that its own clean-up is part of every run.
  Sleep(50);

  PROCESS_MEMORY_COUNTERS pmc{};
  pmc.cb = sizeof pmc;
  GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof pmc);
  FILETIME created, exited, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  Emit({{"ev", "exit"},
        {"peakWorkingSet", static_cast<uint64_t>(pmc.PeakWorkingSetSize)},
        {"cpuSeconds", FileTimeSeconds(kernel) + FileTimeSeconds(user)},
        {"progressCount", g_progressCount},
        {"ms", Ms()}});
  fclose(g_out);
  qv::LoggerFinalize();
  return rc;
}
