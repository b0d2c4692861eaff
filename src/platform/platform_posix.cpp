// POSIX counterparts of the Windows services, used by the native build and its tests.
#include "platform/platform.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>

namespace qv::platform {

LocalTime Now() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
  const std::time_t t = system_clock::to_time_t(now);
  std::tm tm{};
  localtime_r(&t, &tm);
  return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
          static_cast<int>(ms)};
}

std::string TimeSeparator() { return ":"; }

std::string TempFolder() {
  std::string t = GetEnv("TMPDIR");
  if (t.empty()) t = "/tmp";
  if (t.back() != '/') t += '/';
  return t;
}

std::string ExePath() {
  char buf[4096];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

std::string OsDescription() {
  utsname u{};
  if (uname(&u) != 0) return "unknown";
  return std::string(u.sysname) + " " + u.release + " (" + u.machine + ")";
}

std::string GetEnv(const std::string& name) {
  const char* v = std::getenv(name.c_str());
  return v ? v : "";
}

bool AppendExclusive(const std::string& path, const std::function<std::string(bool, bool)>& make) {
  // A second name or a symbolic link is never written through: the name goes, a new file comes.
  bool replaced = false;
  struct stat named {};
  if (::lstat(path.c_str(), &named) == 0 && (S_ISLNK(named.st_mode) || named.st_nlink > 1)) {
    if (::unlink(path.c_str()) != 0) return false;
    replaced = true;
  }
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) return false;
  // Stand-in for Windows' share mode 0: a holder of the lock makes the line fail, not wait.
  bool ok = false;
  if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
    struct stat st {};
    if (fstat(fd, &st) == 0) {
      const std::string bytes = make(st.st_size == 0, replaced);
      size_t done = 0;
      ok = true;
      while (done < bytes.size()) {
        const ssize_t w = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (w <= 0) { ok = false; break; }
        done += static_cast<size_t>(w);
      }
    }
  }
  ::close(fd);
  return ok;
}

bool DeleteFileAt(const std::string& path) { return ::unlink(path.c_str()) == 0; }

uint32_t TickCount() {
  using namespace std::chrono;
  return static_cast<uint32_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

}  // namespace qv::platform
