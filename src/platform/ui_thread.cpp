#include "platform/ui_thread.h"

#include <windows.h>

#include <atomic>
#include <exception>

#include "app/uLogger.h"

namespace qv::ui {
namespace {

constexpr UINT kRunMessage = WM_APP + 0x51;
constexpr wchar_t kClassName[] = L"QuorvelUiDispatch";

std::atomic<HWND> g_window{nullptr};
std::atomic<DWORD> g_threadId{0};

// A call's failure must not unwind through the system's message dispatch; it is logged.
void RunLogged(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const std::exception& e) {
    LogFmt("UI: error in a call from a worker thread: %s", {e.what()});
  } catch (...) {
    Log("UI: error in a call from a worker thread");
  }
}

struct Call {
  const std::function<void()>* fn;
  bool ran;
};

LRESULT CALLBACK DispatchProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == kRunMessage) {
    auto* call = reinterpret_cast<Call*>(lp);
    RunLogged(*call->fn);
    call->ran = true;
    return 1;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

}  // namespace

void InitUiThread() {
  if (g_window.load()) return;
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = DispatchProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = kClassName;
  RegisterClassExW(&wc);
  HWND h = CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                           wc.hInstance, nullptr);
  g_threadId = GetCurrentThreadId();
  g_window = h;
}

void ShutdownUiThread() {
  if (HWND h = g_window.exchange(nullptr)) DestroyWindow(h);
}

bool IsUiThread() { return g_threadId.load() == GetCurrentThreadId(); }

bool RunOnUiThread(const std::function<void()>& fn) {
  if (IsUiThread()) {
    RunLogged(fn);
    return true;
  }
  HWND h = g_window.load();
  if (!h) return false;
  Call call{&fn, false};
  // SendMessageW fails at once (returns 0, runs nothing) when the window is gone.
  SendMessageW(h, kRunMessage, 0, reinterpret_cast<LPARAM>(&call));
  return call.ran;
}

}  // namespace qv::ui
