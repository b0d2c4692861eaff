// Small text helpers shared by every part of the program.  All text inside the program is
// UTF-8 in std::string; the Windows layer converts at its boundary.
#pragma once

#include <string>
#include <string_view>

namespace qv {

// Removes leading and trailing characters of code 32 or below (spaces, tabs, line breaks and
// other control characters).  Nothing else is normalised.
std::string Trim(std::string_view s);

// Joins a folder and a name with one backslash.  No backslash is added when the folder already
// ends with a path separator; an empty folder yields the name, an empty name the folder, and a
// name that is itself an absolute path (rooted, drive-qualified or UNC) yields that name.
std::string JoinPath(std::string_view folder, std::string_view name);

// True for "\x", "/x", "C:..." and "\\server\share" forms.
bool IsAbsolutePath(std::string_view path);

// UTF-8 <-> UTF-16.  Invalid UTF-8 sequences become U+FFFD; unpaired surrogates likewise.
std::u16string Utf8ToUtf16(std::string_view s);
std::string Utf16ToUtf8(std::u16string_view s);

// ASCII-only lower-casing (A-Z to a-z); other characters are kept as they are.
std::string AsciiLower(std::string_view s);

}  // namespace qv
