#include "app/uLogger.h"

#include <mutex>

#include "app/uBrand.h"
#include "core/strings.h"

namespace qv {
namespace {

struct LoggerState {
  std::mutex lock;  // serialises the lines of all threads of this process
  std::string path;
  std::string timeSeparator = ":";
  bool open = false;
};

// Never destroyed: a detached thread that logs while static destructors run at process exit
// still finds a valid (closed) logger.
LoggerState& State() {
  static LoggerState* s = new LoggerState;
  return *s;
}

void Two(std::string& out, int v) {
  out += static_cast<char>('0' + (v / 10) % 10);
  out += static_cast<char>('0' + v % 10);
}

}  // namespace

std::string FormatLogTimestamp(const platform::LocalTime& t, std::string_view sep) {
  std::string s;
  s.reserve(24);
  const int y = t.year;
  s += static_cast<char>('0' + (y / 1000) % 10);
  s += static_cast<char>('0' + (y / 100) % 10);
  Two(s, y % 100);
  s += '-';
  Two(s, t.month);
  s += '-';
  Two(s, t.day);
  s += ' ';
  Two(s, t.hour);
  s += sep;
  Two(s, t.minute);
  s += sep;
  Two(s, t.second);
  s += '.';
  s += static_cast<char>('0' + (t.millisecond / 100) % 10);
  Two(s, t.millisecond % 100);
  return s;
}

std::string FormatLogLine(const platform::LocalTime& t, std::string_view sep, std::string_view msg,
                          bool withByteOrderMark) {
  std::string line;
  line.reserve(msg.size() + 32);
  if (withByteOrderMark) line += "\xEF\xBB\xBF";
  line += FormatLogTimestamp(t, sep);
  line += "  ";
  line += msg;
  line += "\r\n";
  return line;
}

namespace {

// One line, with the lock held.
void WriteLine(LoggerState& s, std::string_view msg) {
  if (!s.open || s.path.empty()) return;
  (void)platform::AppendExclusive(s.path, [&](bool empty, bool replacedLink) {
    // The time is read under the lock, once the file is open.
    const platform::LocalTime now = platform::Now();
    std::string bytes;
    if (replacedLink) bytes = FormatLogLine(now, s.timeSeparator, std::string(kLinkedLogReplaced), empty);
    return bytes + FormatLogLine(now, s.timeSeparator, msg, empty && bytes.empty());
  });
}

}  // namespace

void Log(std::string_view msg) noexcept {
  try {
    LoggerState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    WriteLine(s, msg);
  } catch (...) {
    // A line that cannot be written is lost without notice: the log has nowhere to say so.
  }
}

void LogFmt(std::string_view fmt, std::initializer_list<FmtArg> args) noexcept {
  try {
    Log(Format(fmt, args));
  } catch (...) {
  }
}

std::string LogPath() {
  LoggerState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  return s.open ? s.path : std::string();
}

void LoggerStartupAt(const std::string& path) {
  {
    LoggerState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    s.path = path;
    s.timeSeparator = platform::TimeSeparator();
    s.open = true;
  }
  Log(brand::kLogStartBanner);
  Log("Exe: " + platform::ExePath());
  Log("OS: " + platform::OsDescription());
}

void LoggerStartup() { LoggerStartupAt(JoinPath(platform::TempFolder(), brand::kLogFileName)); }

void LoggerFinalize() {
  LoggerState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  // The exit line and the closing under one hold of the lock: no line of another thread can
  // come between them.
  try {
    WriteLine(s, brand::kLogExitBanner);
  } catch (...) {
    // Lost like any line that cannot be written.
  }
  s.open = false;
  s.path.clear();
}

}  // namespace qv
