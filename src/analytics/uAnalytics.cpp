// The portable part of the usage-event sender: names and reasons, the client id, the JSON body,
// the log lines and the order of the two requests.  The Windows transport and the threads are
// in uAnalyticsWin.cpp.
#include "analytics/uAnalytics.h"

#include <cstdint>

#include "app/uBrand.h"
#include "core/format.h"
#include "core/strings.h"

namespace qv {

namespace events {

std::string DownloadFailureReason(std::string_view failKind, int httpStatus) {
  if (!failKind.empty()) return "download_error_" + std::string(failKind);
  return "download_error_http_" + std::to_string(httpStatus);
}

std::string ExitCodeReason(unsigned long exitCode) {
  // An exit code is a 32-bit DWORD; codes of 2^31 and above are written as large positive numbers.
  return "exit_code_" + std::to_string(static_cast<uint32_t>(exitCode));
}

}  // namespace events

namespace {

// Never destroyed, so nothing that runs during process exit can find it freed.
std::string& ClientIdStorage() {
  static std::string* id = new std::string;
  return *id;
}

void AppendJsonString(std::string& out, std::string_view utf8) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  out += '"';
  for (const char16_t u : Utf8ToUtf16(utf8)) {
    switch (u) {
      case u'"': out += "\\\""; break;
      case u'\\': out += "\\\\"; break;
      case u'\b': out += "\\b"; break;
      case u'\t': out += "\\t"; break;
      case u'\n': out += "\\n"; break;
      case u'\f': out += "\\f"; break;
      case u'\r': out += "\\r"; break;
      default:
        if (u < 0x20 || u > 0x7F) {
          out += "\\u";
          out += kHex[(u >> 12) & 0xF];
          out += kHex[(u >> 8) & 0xF];
          out += kHex[(u >> 4) & 0xF];
          out += kHex[u & 0xF];
        } else {
          out += static_cast<char>(u);
        }
    }
  }
  out += '"';
}

}  // namespace

void ClearClientId() { ClientIdStorage().clear(); }
const std::string& ClientId() { return ClientIdStorage(); }
void SetClientIdForTesting(std::string id) { ClientIdStorage() = std::move(id); }

std::string BuildEventPayload(std::string_view eventName, std::string_view reason) {
  std::string out;
  out.reserve(96 + eventName.size() + reason.size());
  out += "{\"client_id\":";
  AppendJsonString(out, ClientId());
  out += ",\"events\":[{\"name\":";
  AppendJsonString(out, eventName);
  out += ",\"params\":{";
  if (!reason.empty()) {
    out += "\"reason\":";
    AppendJsonString(out, reason);
  }
  out += "}}]}";
  return out;
}

std::string EventLogLine(std::string_view eventName, std::string_view reason,
                         std::string_view payload) {
  return Format("GA: event %s reason=\"%s\" payload=%s", {eventName, reason, payload});
}

std::string CollectPathAndQuery() {
  return Format(brand::kAnalyticsCollectPath, {brand::kMeasurementId, brand::kApiSecret});
}

std::string ValidationPathAndQuery() {
  return Format(brand::kAnalyticsDebugPath, {brand::kMeasurementId, brand::kApiSecret});
}

void SendEventRequests(std::string_view eventName, std::string_view payload, const TPostFn& post,
                       const TLogFn& log) {
  const auto failed = [&](const TPostOutcome& r) {
    if (r.answered) return false;
    log(Format("GA: %s ERROR %s: %s", {eventName, r.errorKind, r.errorMessage}));
    return true;
  };

  const TPostOutcome collect = post(CollectPathAndQuery(), payload);
  if (failed(collect)) return;
  log(Format("GA: %s mp/collect -> HTTP %d %s", {eventName, collect.status, collect.statusText}));

  const TPostOutcome check = post(ValidationPathAndQuery(), payload);
  if (failed(check)) return;
  // The answer is shown as text: decoded as UTF-8, white space and control characters trimmed
  // from both ends; line breaks inside it stay.
  std::string validation = Utf16ToUtf8(Utf8ToUtf16(check.body));
  const auto isBlank = [](unsigned char c) { return c <= 0x20 || c == 0x7F; };
  while (!validation.empty() && isBlank(static_cast<unsigned char>(validation.back())))
    validation.pop_back();
  size_t lead = 0;
  while (lead < validation.size() && isBlank(static_cast<unsigned char>(validation[lead]))) ++lead;
  validation.erase(0, lead);
  log(Format("GA: %s debug/mp/collect -> HTTP %d, validation: %s",
             {eventName, check.status, validation}));
}

}  // namespace qv
