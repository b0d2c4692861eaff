// A window timer with an enabled state the program can read: a timer that is off is a fact
// other code tests (an installer is running while its poll timer is on).
#pragma once

#include <windows.h>

#include <functional>

namespace qv {

class TTimer {
 public:
  TTimer(HWND owner, UINT_PTR id, UINT intervalMs) : owner_(owner), id_(id), interval_(intervalMs) {}
  ~TTimer() { SetEnabled(false); }
  TTimer(const TTimer&) = delete;
  TTimer& operator=(const TTimer&) = delete;

  bool Enabled() const { return enabled_; }
  // Switching on (again) starts a full interval from now.
  void SetEnabled(bool enabled) {
    if (enabled) {
      SetTimer(owner_, id_, interval_, nullptr);
    } else if (enabled_) {
      KillTimer(owner_, id_);
    }
    enabled_ = enabled;
  }
  UINT Interval() const { return interval_; }
  void SetInterval(UINT intervalMs) {
    interval_ = intervalMs;
    if (enabled_) SetEnabled(true);
  }
  // The owner's window procedure hands every WM_TIMER here; true when it was this timer's.
  bool Fire(UINT_PTR id) {
    if (id != id_) return false;
    if (enabled_ && OnTimer) OnTimer();
    return true;
  }

  std::function<void()> OnTimer;

 private:
  HWND owner_;
  UINT_PTR id_;
  UINT interval_;
  bool enabled_ = false;
};

}  // namespace qv
