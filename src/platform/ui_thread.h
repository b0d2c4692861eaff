// Calls from worker threads that run on the user-interface thread while the worker waits.
//
// The UI thread owns a message-only window; a worker sends it a private message that carries
// the callable (SendMessageW), so the call runs inside the UI thread's message processing,
// also while a modal message box or dialog is open, and the worker is blocked until it returns.
#pragma once

#include <functional>

namespace qv::ui {

// Creates the dispatcher for the calling thread, which becomes "the UI thread".  Call once,
// before any worker may call RunOnUiThread.
void InitUiThread();

// Destroys the dispatcher.  Calls made afterwards (a worker that outlives the window) do not
// run their function and return false at once.
void ShutdownUiThread();

// Runs `fn` on the UI thread and returns once it has returned: true when it ran.  Called on the
// UI thread itself it runs `fn` directly.  An exception thrown by `fn` is logged and stops on the
// UI thread (handlers must not let errors escape; this is the last line of defence).
bool RunOnUiThread(const std::function<void()>& fn);

bool IsUiThread();

}  // namespace qv::ui
