#include "analytics/uAnalyticsWin.h"

#include <windows.h>

#include <rpc.h>
#include <winhttp.h>

#include <cctype>
#include <memory>
#include <random>
#include <string>

#include "app/uBrand.h"
#include "app/uLogger.h"
#include "core/format.h"
#include "platform/win32.h"
#include "platform/winhttp.h"

namespace qv {
namespace {

constexpr int kConnectTimeoutMs = 5000;
constexpr int kResponseTimeoutMs = 5000;
// The validation answer is a short JSON text; a larger body is cut here and not read further.
constexpr size_t kMaxBodyBytes = 64 * 1024;

// An error of the HTTP layer, in the categories the program's log uses for HTTP failures.
TPostOutcome Failure(std::string_view stage, DWORD code) {
  TPostOutcome r;
  if (win::IsCertificateError(code)) {
    r.errorKind = "ENetHTTPCertificateException";
    r.errorMessage = Format("Server Certificate not accepted: (%d) %s", {code, win::WinHttpErrorText(code)});
    return r;
  }
  if (stage == "headers") {
    r.errorKind = "ENetHTTPException";
    r.errorMessage = Format("Error querying headers: (%d) %s", {code, win::WinHttpErrorText(code)});
  } else if (stage == "read") {
    r.errorKind = "ENetHTTPResponseException";
    r.errorMessage = Format("Error reading data: (%d) %s", {code, win::WinHttpErrorText(code)});
  } else {
    r.errorKind = "ENetHTTPClientException";
    r.errorMessage = Format(stage == "receive" ? "Error receiving data: (%d) %s"
                                               : "Error sending data: (%d) %s",
                            {code, win::WinHttpErrorText(code)});
  }
  return r;
}

struct EventJob {
  std::string host;
  std::string eventName;
  std::string payload;
};

void RunJob(const EventJob& job) {
  SendEventRequests(
      job.eventName, job.payload,
      [&](const std::string& path, std::string_view body) {
        return PostJsonOverWinHttp(job.host, path, body);
      },
      [](const std::string& line) { Log(line); });
}

DWORD WINAPI EventThread(LPVOID param) {
  // The thread owns its job and frees it; it touches nothing but the job, WinHTTP and the log,
  // so it may outlive the main program's shutdown (the log ignores lines after finalisation).
  std::unique_ptr<EventJob> job(static_cast<EventJob*>(param));
  try {
    RunJob(*job);
  } catch (...) {
    // Nothing escapes an event thread.
  }
  return 0;
}

std::string RandomClientId() {
  std::random_device rd;
  std::string id;
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (int i = 0; i < 32; ++i) {
    unsigned v = rd() & 0xF;
    if (i == 12) v = 4;                 // version 4
    if (i == 16) v = 8 | (v & 3);       // variant 10xx
    if (i == 8 || i == 12 || i == 16 || i == 20) id += '-';
    id += kHex[v];
  }
  return id;
}

}  // namespace

TPostOutcome PostJsonOverWinHttp(std::string_view hostPort, const std::string& pathAndQuery,
                                 std::string_view body) {
  std::string host(hostPort);
  INTERNET_PORT port = INTERNET_DEFAULT_HTTPS_PORT;
  if (const auto colon = host.rfind(':'); colon != std::string::npos) {
    unsigned long value = 0;
    const std::string digits = host.substr(colon + 1);
    for (const char c : digits) {
      if (c < '0' || c > '9' || value > 65535) {
        value = 0;
        break;
      }
      value = value * 10 + static_cast<unsigned long>(c - '0');
    }
    if (digits.empty() || value == 0 || value > 65535) return Failure("send", ERROR_WINHTTP_INVALID_URL);
    port = static_cast<INTERNET_PORT>(value);
    host.resize(colon);
  }

  // No user agent of our own; proxies as the system has them.
  win::HInternet session(WinHttpOpen(nullptr, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY,
                                     WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session) {
    session = win::HInternet(WinHttpOpen(nullptr, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                         WINHTTP_NO_PROXY_BYPASS, 0));
  }
  if (!session) return Failure("send", GetLastError());
  // Name resolution and connecting share the connection time-out; every wait for the server
  // uses the response time-out; sending keeps WinHTTP's default.
  WinHttpSetTimeouts(session.get(), kConnectTimeoutMs, kConnectTimeoutMs, 30000, kResponseTimeoutMs);

  win::HInternet connection(WinHttpConnect(session.get(), win::Wide(host).c_str(), port, 0));
  if (!connection) return Failure("send", GetLastError());
  win::HInternet request(WinHttpOpenRequest(connection.get(), L"POST", win::Wide(pathAndQuery).c_str(),
                                            nullptr, WINHTTP_NO_REFERER,
                                            WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE));
  if (!request) return Failure("send", GetLastError());
  // The same time-outs on the request itself, and the wait for the response headers bounded by
  // the response time-out too (its own default is far longer).
  WinHttpSetTimeouts(request.get(), kConnectTimeoutMs, kConnectTimeoutMs, 30000, kResponseTimeoutMs);
  DWORD responseTimeout = kResponseTimeoutMs;
  WinHttpSetOption(request.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &responseTimeout,
                   sizeof(responseTimeout));

  static constexpr wchar_t kHeaders[] = L"Content-Type: application/json";
  const DWORD length = static_cast<DWORD>(body.size());
  if (!WinHttpSendRequest(request.get(), kHeaders, static_cast<DWORD>(-1L),
                          const_cast<char*>(body.data()), length, length, 0)) {
    return Failure("send", GetLastError());
  }
  if (!WinHttpReceiveResponse(request.get(), nullptr)) return Failure("receive", GetLastError());

  TPostOutcome r;
  DWORD status = 0;
  DWORD size = sizeof(status);
  if (!WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                           WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX)) {
    return Failure("headers", GetLastError());
  }
  r.status = static_cast<int>(status);
  size = 0;
  WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_TEXT, WINHTTP_HEADER_NAME_BY_INDEX,
                      WINHTTP_NO_OUTPUT_BUFFER, &size, WINHTTP_NO_HEADER_INDEX);
  if (GetLastError() == ERROR_INSUFFICIENT_BUFFER && size > 0) {
    std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
    if (WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_TEXT, WINHTTP_HEADER_NAME_BY_INDEX,
                            text.data(), &size, WINHTTP_NO_HEADER_INDEX)) {
      text.resize(size / sizeof(wchar_t));
      r.statusText = win::Narrow(text);
    }
  }

  char buffer[8192];
  while (r.body.size() < kMaxBodyBytes) {
    DWORD got = 0;
    if (!WinHttpReadData(request.get(), buffer, sizeof(buffer), &got)) {
      return Failure("read", GetLastError());
    }
    if (got == 0) break;
    r.body.append(buffer, got);
  }
  if (r.body.size() > kMaxBodyBytes) r.body.resize(kMaxBodyBytes);
  r.answered = true;
  return r;
}

void InitClientId() {
  UUID uuid{};
  const RPC_STATUS st = UuidCreate(&uuid);
  std::string id;
  if (st == RPC_S_OK || st == RPC_S_UUID_LOCAL_ONLY) {
    RPC_CSTR text = nullptr;
    if (UuidToStringA(&uuid, &text) == RPC_S_OK && text) {
      id = reinterpret_cast<const char*>(text);
      RpcStringFreeA(&text);
    }
  }
  if (id.size() != 36) {
    // No GUID from the system: a random one of the same form keeps the run's events together.
    LogFmt("GA: UuidCreate failed (%d), client id made from random numbers", {static_cast<long>(st)});
    id = RandomClientId();
  }
  for (char& c : id) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  SetClientIdForTesting(std::move(id));
}

void TrackEventTo(std::string_view hostPort, std::string_view eventName, std::string_view reason) {
  try {
    std::string payload = BuildEventPayload(eventName, reason);
    Log(EventLogLine(eventName, reason, payload));
    auto job = std::make_unique<EventJob>(
        EventJob{std::string(hostPort), std::string(eventName), std::move(payload)});
    HANDLE thread = CreateThread(nullptr, 0, EventThread, job.get(), 0, nullptr);
    if (!thread) {
      const DWORD err = GetLastError();
      LogFmt("GA: %s ERROR %s: %s", {eventName, "EThread", Format("Thread creation error: (%d) %s",
                                                                   {err, win::SystemErrorText(err)})});
      return;
    }
    job.release();  // the thread owns it now
    CloseHandle(thread);  // nobody waits for an event thread
  } catch (...) {
    // The caller never learns about analytics failures.
  }
}

void TrackEvent(std::string_view eventName, std::string_view reason) {
  TrackEventTo(brand::kAnalyticsHost, eventName, reason);
}

}  // namespace qv
