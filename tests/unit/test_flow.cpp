// The install flow's decisions row by row: retries and their log lines, the progress
// percentages, the installer's command line, the choice of the program to start and the close
// outcome by state.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "l10n/uLang.h"
#include "mainform/flow.h"

using namespace qv::flow;
using Lines = std::vector<std::string>;

TEST(Flow, RetryableUnlessAClientErrorOtherThanTimeoutOrRateLimit) {
  struct Case { int status; bool retryable; };
  const Case cases[] = {
      {0, true},    {200, true},  {206, true},  {301, true},  {399, true},
      {400, false}, {404, false}, {407, false}, {408, true},  {409, false},
      {429, true},  {499, false}, {500, true},  {503, true},  {599, true},
  };
  for (const auto& c : cases) EXPECT_EQ(IsRetryable(c.status), c.retryable) << c.status;
}

TEST(Flow, CompletionDecisions) {
  struct Case {
    const char* what;
    bool success;
    std::string msg;
    int status;
    std::string kind;
    bool closing;
    int retries;
    int64_t resume;
    TCompletion action;
    int retriesAfter;
    int delay;
    std::string reason;
    Lines log;
  };
  const std::string http503 = "Server returned HTTP 503 Service Unavailable";
  const std::string failed503 = "FLOW: download FAILED (HTTP 503): " + http503;
  const Case cases[] = {
      {"success while closing still launches", true, "", 200, "", true, 2, 0,
       TCompletion::Launch, 2, 0, "", {"FLOW: download complete"}},
      {"cancelled", false, "Download cancelled.", 0, "", true, 0, 0,
       TCompletion::CancelledClose, 0, 0, "", {"FLOW: download cancelled, closing"}},
      {"cancel text differing in case is a failure", false, "download cancelled.", 0, "", true, 0, 0,
       TCompletion::FailedClose, 0, 0, "download_error_http_0",
       {"FLOW: download FAILED (HTTP 0): download cancelled."}},
      {"failure while closing", false, http503, 503, "", true, 1, 500,
       TCompletion::FailedClose, 1, 0, "download_error_http_503", {failed503}},
      {"retry 1", false, http503, 503, "", false, 0, 0, TCompletion::Retry, 1, 1000,
       "download_error_http_503",
       {failed503, "FLOW: auto-retry 1/3 in 1000 ms (resume from byte 0)"}},
      {"retry 2 resumes", false, "Download incomplete.", 200, "incomplete", false, 1, 5000000000,
       TCompletion::Retry, 2, 2000, "download_error_incomplete",
       {"FLOW: download FAILED (HTTP 200): Download incomplete.",
        "FLOW: auto-retry 2/3 in 2000 ms (resume from byte 5000000000)"}},
      {"retry 3", false, http503, 503, "", false, 2, 123, TCompletion::Retry, 3, 3000,
       "download_error_http_503",
       {failed503, "FLOW: auto-retry 3/3 in 3000 ms (resume from byte 123)"}},
      {"fourth failure gives up", false, http503, 503, "", false, 3, 123, TCompletion::GiveUp, 3, 0,
       "download_error_http_503",
       {failed503, "FLOW: download FAILED after 3 retries, giving up"}},
      {"404 first attempt gives up", false, "Server returned HTTP 404 Not Found", 404, "", false, 0, 0,
       TCompletion::GiveUp, 0, 0, "download_error_http_404",
       {"FLOW: download FAILED (HTTP 404): Server returned HTTP 404 Not Found",
        "FLOW: download FAILED after 0 retries, giving up"}},
      {"404 after retries reports the count", false, "x", 404, "", false, 2, 0,
       TCompletion::GiveUp, 2, 0, "download_error_http_404",
       {"FLOW: download FAILED (HTTP 404): x", "FLOW: download FAILED after 2 retries, giving up"}},
      {"kind wins over status, 408 retried", false, "Timed out", 408, "timeout", false, 0, 0,
       TCompletion::Retry, 1, 1000, "download_error_timeout",
       {"FLOW: download FAILED (HTTP 408): Timed out",
        "FLOW: auto-retry 1/3 in 1000 ms (resume from byte 0)"}},
  };
  for (const auto& c : cases) {
    const TCompletionDecision d =
        DecideCompletion(c.success, c.msg, c.status, c.kind, c.closing, c.retries, c.resume);
    EXPECT_EQ(d.action, c.action) << c.what;
    EXPECT_EQ(d.retryCount, c.retriesAfter) << c.what;
    EXPECT_EQ(d.retryDelayMs, c.delay) << c.what;
    if (c.action == TCompletion::Retry || c.action == TCompletion::GiveUp) {
      EXPECT_EQ(d.reason, c.reason) << c.what;
    }
    EXPECT_EQ(d.logLines, c.log) << c.what;
  }
}

TEST(Flow, FourFailuresInARowUseTheWholeBudget) {
  int retries = 0;
  std::vector<int> delays;
  TCompletionDecision d;
  do {
    d = DecideCompletion(false, "boom", 503, "", false, retries, 0);
    retries = d.retryCount;
    if (d.action == TCompletion::Retry) delays.push_back(d.retryDelayMs);
  } while (d.action == TCompletion::Retry);
  EXPECT_EQ(d.action, TCompletion::GiveUp);
  EXPECT_EQ(delays, (std::vector<int>{1000, 2000, 3000}));
  EXPECT_EQ(d.logLines.back(), "FLOW: download FAILED after 3 retries, giving up");
}

TEST(Flow, DownloadPercentRoundsHalvesToEven) {
  constexpr int64_t kBig = int64_t{1} << 62;  // a multiple of 2 whose x90 overflows 64 bits
  struct Case { int64_t read, total; int percent; };
  const Case cases[] = {
      {0, 1000, 0},       {1000, 1000, 90},   {500, 1000, 45},
      {1, 180, 0},        // 0.5
      {3, 180, 2},        // 1.5
      {5, 180, 2},        // 2.5
      {7, 180, 4},        // 3.5
      {29, 180, 14},      // 14.5: a double quotient lands just above the half
      {63, 180, 32},      // 31.5: and here just below it
      {93, 180, 46},      // 46.5
      {179, 180, 90},     // 89.5
      {2, 180, 1},        {1, 181, 0},        {2, 181, 1},
      {kBig / 4, kBig, 22},                   // 22.5
      {kBig / 4 * 3, kBig, 68},               // 67.5
      {kBig / 4 + 1, kBig, 23},               // just above the half
      {INT64_MAX / 2, INT64_MAX, 45},         // 44.99999...
      {INT64_MAX - 1, INT64_MAX, 90},
      {5'000'000'000, 10'000'000'000, 45},
      {1200, 1000, 90},   // more than announced stays within the download share
      {-5, 1000, 0},      {10, 0, 0},          {10, -1, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DownloadPercent(c.read, c.total), c.percent) << c.read << " of " << c.total;
  }
  EXPECT_EQ(PercentText(DownloadPercent(1, 2)), "45%");
  EXPECT_EQ(PercentText(0), "0%");
}

TEST(Flow, InstallerFolderAndParameters) {
  struct Case { std::string text, folder; };
  const Case cases[] = {
      {"C:\\Program Files\\Quorvel\\", "C:\\Program Files\\Quorvel"},
      {"C:\\X\\\\", "C:\\X\\"},  // only one trailing backslash goes
      {"  C:\\My Apps\\Quorvel \t\r\n", "C:\\My Apps\\Quorvel"},
      {" C:\\Quorvel\\ ", "C:\\Quorvel"},
      {"D:\\", "D:"},
      {"C:\\Quorvel/", "C:\\Quorvel/"},  // only a backslash is removed here
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(InstallerFolder(c.text), c.folder) << c.text;

  EXPECT_EQ(InstallerParameters("english", InstallerFolder(" C:\\My Apps\\Quorvel\\ ")),
            "/SP- /VERYSILENT /SUPPRESSMSGBOXES /NORESTART /LANG=english "
            "/DIR=\"C:\\My Apps\\Quorvel\"");
  EXPECT_EQ(InstallerParameters(qv::UIStringsTable[1].InnoId, "D:"),
            "/SP- /VERYSILENT /SUPPRESSMSGBOXES /NORESTART /LANG=german /DIR=\"D:\"");

  EXPECT_TRUE(FolderFitsCommandLine("C:\\My Apps\\Quorvel"));
  EXPECT_FALSE(FolderFitsCommandLine("C:\\A\" /LOG=\"C:\\B"));
}

TEST(Flow, InstallerCreepStopsAt990) {
  int position = kInstallerStartPosition;
  for (int tick = 0; tick < 20; ++tick) position = CreepPosition(position);
  EXPECT_EQ(position, 940);
  EXPECT_EQ(PositionPercentText(position), "94%");

  for (int tick = 0; tick < 100; ++tick) position = CreepPosition(position);  // 60 s in all
  EXPECT_EQ(position, 990);
  EXPECT_EQ(PositionPercentText(position), "99%");

  EXPECT_EQ(CreepPosition(988), 990);
  EXPECT_EQ(CreepPosition(989), 991);  // below 990 still adds the full step
  EXPECT_EQ(CreepPosition(1000), 1000);
  EXPECT_EQ(PositionPercentText(909), "90%");
  EXPECT_EQ(PositionPercentText(1000), "100%");
}

TEST(Flow, AppSearchFolder) {
  EXPECT_EQ(AppSearchFolder(" C:\\Quorvel\\ "), "C:\\Quorvel");
  EXPECT_EQ(AppSearchFolder("C:\\Quorvel/"), "C:\\Quorvel");
  EXPECT_EQ(AppSearchFolder("C:\\Quorvel\\\\"), "C:\\Quorvel\\");
  EXPECT_EQ(AppSearchFolder("C:\\Quorvel"), "C:\\Quorvel");
  EXPECT_EQ(AppSearchFolder("   "), "");
}

TEST(Flow, ChooseAppExe) {
  struct Case {
    const char* what;
    std::string folder;
    bool folderExists, appExeExists;
    std::vector<TDirEntry> listing;
    std::string chosen;
  };
  const Case cases[] = {
      {"expected name wins over larger files", "C:\\Q", true, true,
       {{"Big.exe", 900}, {"Quorvel.exe", 10}}, "C:\\Q\\Quorvel.exe"},
      {"unins-prefixed larger file skipped", "C:\\Q", true, false,
       {{"unins000.exe", 900}, {"Helper.exe", 10}}, "C:\\Q\\Helper.exe"},
      {"prefix ignores case", "C:\\Q", true, false,
       {{"UNINS001.EXE", 900}, {"Uninstall.exe", 800}, {"Tool.exe", 5}}, "C:\\Q\\Tool.exe"},
      {"largest wins", "C:\\Q", true, false,
       {{"a.exe", 10}, {"b.exe", 30}, {"c.exe", 20}}, "C:\\Q\\b.exe"},
      {"first among equals", "C:\\Q", true, false,
       {{"first.exe", 30}, {"second.exe", 30}}, "C:\\Q\\first.exe"},
      {"zero-sized entry still qualifies", "C:\\Q", true, false, {{"empty.exe", 0}}, "C:\\Q\\empty.exe"},
      {"folder entry counts like a file", "C:\\Q", true, false,
       {{"dir.exe", 4096}, {"small.exe", 100}}, "C:\\Q\\dir.exe"},
      {"short names never match the prefix", "C:\\Q", true, false,
       {{"other.exe", 40}, {"uni.exe", 50}}, "C:\\Q\\uni.exe"},
      {"only uninstallers", "C:\\Q", true, false, {{"unins000.exe", 900}}, ""},
      {"empty listing", "C:\\Q", true, false, {}, ""},
      {"missing folder", "C:\\Missing", false, false, {{"a.exe", 10}}, ""},
      {"empty folder", "", true, true, {{"a.exe", 10}}, ""},
      {"drive root joins without a second separator", "D:\\", true, true, {}, "D:\\Quorvel.exe"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ChooseAppExe(c.folder, c.folderExists, c.appExeExists, c.listing), c.chosen) << c.what;
  }

  // The Windows build compares in the user's locale; the comparison it passes is what decides.
  const std::vector<TDirEntry> listing = {{"unins000.exe", 900}, {"Helper.exe", 10}};
  const TPrefixMatch never = [](std::string_view, std::string_view) { return false; };
  EXPECT_EQ(ChooseAppExe("C:\\Q", true, false, listing, never), "C:\\Q\\unins000.exe");
  EXPECT_EQ(ChooseAppExe("C:\\Q", true, false, listing, TPrefixMatch{}), "C:\\Q\\Helper.exe");
}

TEST(Flow, AsciiPrefixMatch) {
  EXPECT_TRUE(AsciiPrefixMatch("unins000.exe", "unins"));
  EXPECT_TRUE(AsciiPrefixMatch("UnInStall.exe", "unins"));
  EXPECT_TRUE(AsciiPrefixMatch("unins", "unins"));
  EXPECT_FALSE(AsciiPrefixMatch("unin", "unins"));
  EXPECT_FALSE(AsciiPrefixMatch("xunins.exe", "unins"));
}

TEST(Flow, CloseOutcomeByState) {
  struct Case { bool running, done, closing; TCloseOutcome outcome; };
  const Case cases[] = {
      {false, false, false, TCloseOutcome::Ask},    {false, false, true, TCloseOutcome::Close},
      {false, true, false, TCloseOutcome::Close},   {false, true, true, TCloseOutcome::Close},
      {true, false, false, TCloseOutcome::Refuse},  {true, false, true, TCloseOutcome::Refuse},
      {true, true, false, TCloseOutcome::Refuse},   {true, true, true, TCloseOutcome::Refuse},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DecideClose(c.running, c.done, c.closing), c.outcome)
        << "running=" << c.running << " done=" << c.done << " closing=" << c.closing;
  }
}
