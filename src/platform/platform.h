// What the portable parts of the program need from the operating system.  There is one
// implementation for Windows (the product) and one for POSIX (so the core and its tests run
// natively on the build machine).  All text is UTF-8.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace qv::platform {

struct LocalTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
};

LocalTime Now();

// The user's locale time separator (":" in most locales).
std::string TimeSeparator();

// The user's temporary folder in its long form, ending with a separator; empty when unknown.
std::string TempFolder();

// Full path of the running program file.
std::string ExePath();

// One line naming the operating system: product name, version, build and bitness.
std::string OsDescription();

// Value of an environment variable; empty when missing.
std::string GetEnv(const std::string& name);

// Appends to a file opened exclusively (no sharing), creating it when missing.  `make` gets
// whether the file is empty before the write, and whether a linked file was replaced, and
// returns the bytes to write.  An existing file that is not plainly the file at `path` (it has
// a second name, is a reparse point, or its handle resolves to another path: a hard link or a
// junction another program planted) is never written: its name is deleted (not its target) and
// a new file is started.  Returns false when the file cannot be opened (for example another
// process holds it) or written; nothing is written then.
[[nodiscard]] bool AppendExclusive(const std::string& path,
                                   const std::function<std::string(bool empty, bool replacedLink)>& make);

// Deletes a file; a missing file is not an error.  The result is advisory.
bool DeleteFileAt(const std::string& path);

// Millisecond tick count that wraps at 2^32 (GetTickCount on Windows).
uint32_t TickCount();

}  // namespace qv::platform
