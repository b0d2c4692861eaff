#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <cctype>
#include <deque>
#include <filesystem>
#include <regex>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "analytics/uAnalytics.h"
#include "app/uBrand.h"
#include "app/uLogger.h"
#include "test_files.h"

using namespace qv;

namespace {

const char kId[] = "0F8E4D2C-1B3A-4C5D-9E6F-7A8B9C0D1E2F";

class Payload : public ::testing::Test {
 protected:
  void SetUp() override { SetClientIdForTesting(kId); }
  void TearDown() override { ClearClientId(); }
};

}  // namespace

TEST_F(Payload, CompactBodyWithAndWithoutReason) {
  EXPECT_EQ(BuildEventPayload("setup_run", ""),
            std::string("{\"client_id\":\"") + kId +
                "\",\"events\":[{\"name\":\"setup_run\",\"params\":{}}]}");
  EXPECT_EQ(BuildEventPayload("install_failed", "exit_code_1"),
            std::string("{\"client_id\":\"") + kId +
                "\",\"events\":[{\"name\":\"install_failed\",\"params\":{\"reason\":\"exit_code_1\"}}]}");
  // Two events of one run carry the same client id.
  const auto a = nlohmann::json::parse(BuildEventPayload("install_start", ""));
  const auto b = nlohmann::json::parse(BuildEventPayload("install_retry", "download_error_http_503"));
  EXPECT_EQ(a["client_id"], b["client_id"]);
  EXPECT_EQ(b["events"][0]["params"].size(), 1u);
}

TEST_F(Payload, EscapesEachCharacterClassExactly) {
  const struct {
    std::string in;
    std::string out;
  } cases[] = {
      {"a\"b", R"(a\"b)"},
      {"a\\b", R"(a\\b)"},
      {"a/b", "a/b"},  // the solidus stays as it is
      {"\b\t\n\f\r", R"(\b\t\n\f\r)"},
      {std::string("\x00\x01\x1F", 3), R"(\u0000\u0001\u001F)"},
      {"\x7F", "\x7F"},                        // DEL is not above U+007F
      {" ~", " ~"},
      {"\xC3\xA9", R"(\u00E9)"},               // é
      {"\xC2\x80", R"(\u0080)"},
      {"\xE2\x82\xAC", R"(\u20AC)"},           // €
      {"\xEF\xBF\xBF", R"(\uFFFF)"},
      {"\xF0\x9F\x98\x80", R"(\uD83D\uDE00)"}, // one code unit at a time
      {"\xFF", R"(\uFFFD)"},                   // not UTF-8
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.out);
    const std::string body = BuildEventPayload("ev", c.in);
    EXPECT_EQ(body, std::string("{\"client_id\":\"") + kId +
                        "\",\"events\":[{\"name\":\"ev\",\"params\":{\"reason\":\"" + c.out +
                        "\"}}]}");
    // Whatever the escapes, the body is JSON that gives the text back.
    const auto parsed = nlohmann::json::parse(body);
    if (c.in != "\xFF") {
      EXPECT_EQ(parsed["events"][0]["params"]["reason"], c.in);
    }
  }
  // Names and the client id are escaped the same way.
  SetClientIdForTesting("id\"1");
  EXPECT_EQ(BuildEventPayload("n\xC3\xA9", ""),
            R"({"client_id":"id\"1","events":[{"name":"n\u00E9","params":{}}]})");
}

TEST_F(Payload, EventLogLineQuotesTheReasonEvenWhenEmpty) {
  EXPECT_EQ(EventLogLine("setup_run", "", "{}"), "GA: event setup_run reason=\"\" payload={}");
  EXPECT_EQ(EventLogLine("install_failed", "uac_cancelled", "{\"a\":1}"),
            "GA: event install_failed reason=\"uac_cancelled\" payload={\"a\":1}");
}

TEST(EventReasons, DownloadAndExitCodeReasons) {
  EXPECT_EQ(events::DownloadFailureReason("", 404), "download_error_http_404");
  EXPECT_EQ(events::DownloadFailureReason("", 503), "download_error_http_503");
  EXPECT_EQ(events::DownloadFailureReason("resume_ignored", 200), "download_error_resume_ignored");
  EXPECT_EQ(events::DownloadFailureReason("enethttpclientexception", 0),
            "download_error_enethttpclientexception");
  EXPECT_EQ(events::ExitCodeReason(0), "exit_code_0");
  EXPECT_EQ(events::ExitCodeReason(2), "exit_code_2");
  EXPECT_EQ(events::ExitCodeReason(2147483648UL), "exit_code_2147483648");
  EXPECT_EQ(events::ExitCodeReason(4294967295UL), "exit_code_4294967295");
  // An exit code that went through a signed int on its way stays a 32-bit number.
  EXPECT_EQ(events::ExitCodeReason(static_cast<unsigned long>(-1)), "exit_code_4294967295");
}

TEST(AnalyticsConstants, MeasurementIdAndSecretHaveTheirForm) {
  const std::string_view id = brand::kMeasurementId;
  ASSERT_EQ(id.size(), 12u);
  EXPECT_EQ(id.substr(0, 2), "G-");
  for (const char c : id.substr(2)) EXPECT_TRUE(std::isupper(c) || std::isdigit(c)) << id;
  ASSERT_EQ(brand::kApiSecret.size(), 22u);
  for (const char c : brand::kApiSecret) EXPECT_TRUE(std::isalnum(c)) << brand::kApiSecret;
}

// ---- The two requests of an event, with a scripted transport --------------------------------

namespace {

struct Request {
  std::string path;
  std::string body;
};

struct Script {
  std::deque<TPostOutcome> answers;
  std::vector<Request> requests;
  std::vector<std::string> log;

  void Run(std::string_view name, std::string_view payload) {
    SendEventRequests(
        name, payload,
        [&](const std::string& path, std::string_view body) {
          requests.push_back({path, std::string(body)});
          TPostOutcome r = answers.front();
          answers.pop_front();
          return r;
        },
        [&](const std::string& line) { log.push_back(line); });
  }
};

TPostOutcome Answer(int status, std::string text, std::string body = "") {
  TPostOutcome r;
  r.answered = true;
  r.status = status;
  r.statusText = std::move(text);
  r.body = std::move(body);
  return r;
}

TPostOutcome Error(std::string kind, std::string message) {
  TPostOutcome r;
  r.errorKind = std::move(kind);
  r.errorMessage = std::move(message);
  return r;
}

const std::string kQuery = "?measurement_id=" + std::string(brand::kMeasurementId) +
                           "&api_secret=" + std::string(brand::kApiSecret);

void ExpectNoSecrets(const std::vector<std::string>& log) {
  for (const auto& line : log) {
    EXPECT_EQ(line.find(brand::kMeasurementId), std::string::npos) << line;
    EXPECT_EQ(line.find(brand::kApiSecret), std::string::npos) << line;
  }
}

}  // namespace

TEST(EventRequests, CollectThenValidateWithTheSameBody) {
  Script s;
  s.answers = {Answer(204, "No Content"),
               Answer(200, "OK", " \r\n{\n  \"validationMessages\": []\n}\r\n\t")};
  s.Run("setup_run", "{\"x\":1}");
  ASSERT_EQ(s.requests.size(), 2u);
  EXPECT_EQ(s.requests[0].path, "/mp/collect" + kQuery);
  EXPECT_EQ(s.requests[1].path, "/debug/mp/collect" + kQuery);
  EXPECT_EQ(s.requests[0].body, "{\"x\":1}");
  EXPECT_EQ(s.requests[1].body, "{\"x\":1}");
  EXPECT_EQ(s.log, (std::vector<std::string>{
                       "GA: setup_run mp/collect -> HTTP 204 No Content",
                       "GA: setup_run debug/mp/collect -> HTTP 200, validation: {\n  "
                       "\"validationMessages\": []\n}"}));
  ExpectNoSecrets(s.log);
}

TEST(EventRequests, AnyAnswerIsLoggedAndTheFirstErrorEndsTheEvent) {
  const struct {
    const char* what;
    std::deque<TPostOutcome> answers;
    size_t requests;
    std::vector<std::string> log;
  } cases[] = {
      {"400 on collect still validates",
       {Answer(400, "Bad Request"), Answer(500, "Internal Server Error", "")},
       2,
       {"GA: e mp/collect -> HTTP 400 Bad Request",
        "GA: e debug/mp/collect -> HTTP 500, validation: "}},
      {"error on collect: no validation request",
       {Error("ENetHTTPClientException", "Error sending data: (12029) refused")},
       1,
       {"GA: e ERROR ENetHTTPClientException: Error sending data: (12029) refused"}},
      {"error on validation",
       {Answer(200, "OK"), Error("ENetHTTPClientException", "Error receiving data: (12002) timeout")},
       2,
       {"GA: e mp/collect -> HTTP 200 OK",
        "GA: e ERROR ENetHTTPClientException: Error receiving data: (12002) timeout"}},
      {"validation body that is not UTF-8",
       {Answer(200, "OK"), Answer(200, "OK", "\x01\x7Fo\x7Fk\xFF\x7F\n")},
       2,
       {"GA: e mp/collect -> HTTP 200 OK",
        "GA: e debug/mp/collect -> HTTP 200, validation: o\x7Fk\xEF\xBF\xBD"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Script s;
    s.answers = c.answers;
    s.Run("e", "{}");
    EXPECT_EQ(s.requests.size(), c.requests);
    EXPECT_EQ(s.log, c.log);
    ExpectNoSecrets(s.log);
  }
}

// Event threads are never waited for: several run at once and some are still sending when the
// program writes its exit line.  Every line they write is whole, their two lines keep their
// order, and nothing follows the exit line.
TEST(EventRequests, ConcurrentSendersAcrossLoggerFinalisation) {
  namespace fs = std::filesystem;
  const fs::path path = fs::temp_directory_path() / ("qv_ga_threads_" + std::to_string(::getpid()) + ".log");
  fs::remove(path);
  LoggerStartupAt(path.string());
  constexpr int kThreads = 6, kEvents = 200;
  std::atomic<int> firstEventsDone{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &firstEventsDone] {
      const std::string name = "ev" + std::to_string(t);
      for (int i = 0; i < kEvents; ++i) {
        SendEventRequests(
            name, "{}",
            [](const std::string&, std::string_view) { return Answer(200, "OK", " \r\n{}\r\n "); },
            [](const std::string& line) { Log(line); });
        if (i == 0) firstEventsDone.fetch_add(1);
      }
    });
  }
  while (firstEventsDone.load() < kThreads) std::this_thread::yield();
  LoggerFinalize();
  for (auto& th : threads) th.join();

  const std::string text = test::ReadFileBytes(path);
  fs::remove(path);
  std::vector<std::string> lines;
  for (size_t start = 0, at; (at = text.find("\r\n", start)) != std::string::npos; start = at + 2)
    lines.push_back(text.substr(start, at - start));
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(lines.back().find(brand::kLogExitBanner), std::string::npos) << "a line follows the exit line";
  const std::regex sent(R"(^.{23}  GA: ev(\d) (mp/collect -> HTTP 200 OK|debug/mp/collect -> HTTP 200, validation: \{\})$)");
  std::vector<int> perThread(kThreads, 0);
  for (size_t i = 3; i + 1 < lines.size(); ++i) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[i], m, sent)) << "torn or unexpected line: " << lines[i];
    const int t = std::stoi(m[1]);
    const bool collect = m[2].str().rfind("mp/collect", 0) == 0;
    EXPECT_EQ(collect, perThread[t] % 2 == 0) << "collection and validation out of order: " << lines[i];
    ++perThread[t];
  }
  for (int t = 0; t < kThreads; ++t) EXPECT_GE(perThread[t], 2) << "thread " << t;
}
