// The setup log: one UTF-8 text file in the user's temporary folder to which every thread
// appends timestamped lines.  Writing never fails the caller: a line that cannot be written
// (the file is held by another process, the folder is read-only, the disk is full) is dropped.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

#include "core/format.h"
#include "platform/platform.h"

namespace qv {

// Appends one line "yyyy-mm-dd hh:nn:ss.zzz  <msg>" CR LF.  Thread-safe; returns once the line
// is on disk (or was dropped).  After LoggerFinalize it does nothing.
void Log(std::string_view msg) noexcept;

// Formats with qv::Format ("%s", "%d", "%%") before taking the lock, then logs.
void LogFmt(std::string_view fmt, std::initializer_list<FmtArg> args) noexcept;

// Full path of the log file; empty before start-up and after finalisation.
std::string LogPath();

// First service of the process: computes the path and writes the three start lines.
void LoggerStartup();
// Last service of the process: writes the exit line.  Threads that are still running (the
// analytics senders are never waited for) may call Log afterwards: such calls write nothing.
void LoggerFinalize();

// Written first into a new log when the log's name was a link to another file (see
// platform::AppendExclusive): the link was removed, its target left as it was.
inline constexpr std::string_view kLinkedLogReplaced =
    "LOG: the log file was a link to another file; the link was removed and a new log started";

// Pieces of the line format, shared with the tests.
std::string FormatLogTimestamp(const platform::LocalTime& t, std::string_view timeSeparator);
std::string FormatLogLine(const platform::LocalTime& t, std::string_view timeSeparator,
                          std::string_view msg, bool withByteOrderMark);

// Start-up with an explicit path, for tests that keep their logs apart.
void LoggerStartupAt(const std::string& path);

}  // namespace qv
