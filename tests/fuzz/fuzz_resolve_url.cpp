// The Location header of a redirect resolved against the URL that was asked for.  Input: the base
// URL, a line feed, then the Location value as the server sent it.
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/strings.h"
#include "download/uDownloadIo.h"
#include "fuzz_check.h"

using qv::fuzz::Require;

namespace {

bool StartsWithNoCase(const std::string& s, std::string_view prefix) {
  return s.size() >= prefix.size() && qv::AsciiLower(s.substr(0, prefix.size())) == qv::AsciiLower(prefix);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input = qv::fuzz::AsText(data, size);
  const size_t cut = input.find('\n');
  if (cut == std::string_view::npos) return 0;
  const std::string base(input.substr(0, cut));
  const std::string location(input.substr(cut + 1));
  const std::string next = qv::dl::ResolveUrl(base, location);

  const std::string loc = qv::Trim(location);
  if (StartsWithNoCase(loc, "http://") || StartsWithNoCase(loc, "https://")) {
    Require(next == loc, "an absolute target is taken as it stands");
    return 0;
  }
  // Only for a base of the form the worker asks for: scheme://authority[/path][?query][#fragment].
  const size_t scheme = base.find("://");
  if (scheme == std::string::npos || scheme == 0) return 0;
  if (base.find_first_of("/?#") < scheme) return 0;
  // Any reference that is not absolute keeps the scheme, so the step-down check after it sees
  // the scheme that will really be used.
  Require(next.compare(0, scheme + 1, base, 0, scheme + 1) == 0, "a relative target keeps the scheme");
  if (loc.rfind("//", 0) == 0) return 0;  // scheme-relative: another authority is allowed
  // Any other reference stays on the base's scheme and authority: the authority is followed by
  // the path, query or fragment, or by nothing.
  const size_t end = base.find_first_of("/?#", scheme + 3);
  const std::string origin = base.substr(0, end);
  Require(next.compare(0, origin.size(), origin) == 0, "a relative target keeps the origin");
  Require(next.size() == origin.size() || next[origin.size()] == '/' || next[origin.size()] == '?' ||
              next[origin.size()] == '#',
          "a relative target does not extend the authority");
  return 0;
}
