// The body of the analytics validation answer, which the event thread writes into the log as
// text.  Input: the body as the service sent it.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "analytics/uAnalytics.h"
#include "core/strings.h"
#include "fuzz_check.h"

using qv::fuzz::Require;

namespace {

bool Blank(unsigned char c) { return c <= 0x20 || c == 0x7F; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string body(qv::fuzz::AsText(data, size));
  int calls = 0;
  std::vector<std::string> log;
  qv::SendEventRequests(
      "setup_run", "{}",
      [&](const std::string&, std::string_view) {
        qv::TPostOutcome r;
        r.answered = true;
        r.status = 200;
        r.statusText = "OK";
        if (calls++ == 1) r.body = body;
        return r;
      },
      [&](const std::string& line) { log.push_back(line); });
  Require(calls == 2 && log.size() == 2, "two requests, two log lines");

  const std::string prefix = "GA: setup_run debug/mp/collect -> HTTP 200, validation: ";
  Require(log[1].compare(0, prefix.size(), prefix) == 0, "validation line starts as it should");
  const std::string shown = log[1].substr(prefix.size());
  Require(qv::Utf16ToUtf8(qv::Utf8ToUtf16(shown)) == shown, "the shown text is valid UTF-8");
  Require(shown.empty() || (!Blank(shown.front()) && !Blank(shown.back())), "the shown text is trimmed");
  // It is the decoded body less blanks at both ends: nothing else is cut or changed.
  const std::string decoded = qv::Utf16ToUtf8(qv::Utf8ToUtf16(body));
  size_t b = 0, e = decoded.size();
  while (b < e && Blank(decoded[b])) ++b;
  while (e > b && Blank(decoded[e - 1])) --e;
  Require(shown == decoded.substr(b, e - b), "only blanks at both ends are removed");
  return 0;
}
