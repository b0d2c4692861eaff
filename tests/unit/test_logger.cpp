#include <gtest/gtest.h>

#include "test_files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "app/uLogger.h"

namespace fs = std::filesystem;
using namespace qv;

namespace {


// Splits on CR LF; a message containing a bare LF stays inside one element.
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  size_t start = 0;
  for (size_t at; (at = text.find("\r\n", start)) != std::string::npos; start = at + 2)
    out.push_back(text.substr(start, at - start));
  EXPECT_EQ(start, text.size()) << "file does not end with CR LF";
  return out;
}

class LoggerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("qvlog-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    path_ = dir_ / "quorvel-setup.log";
  }
  void TearDown() override {
    LoggerFinalize();
    fs::remove_all(dir_);
  }
  fs::path dir_, path_;
};

const char kBom[] = "\xEF\xBB\xBF";
const std::regex kStamped(R"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3}  .*)");

}  // namespace

TEST(LogFormat, TimestampUsesLocaleSeparatorAndZeroPads) {
  const platform::LocalTime t{2024, 5, 1, 14, 3, 7, 25};
  EXPECT_EQ(FormatLogTimestamp(t, ":"), "2024-05-01 14:03:07.025");
  EXPECT_EQ(FormatLogTimestamp(t, "."), "2024-05-01 14.03.07.025");
  const platform::LocalTime midnight{987, 12, 31, 0, 0, 0, 999};
  EXPECT_EQ(FormatLogTimestamp(midnight, ":"), "0987-12-31 00:00:00.999");
}

TEST(LogFormat, LineIsStampTwoSpacesMessageCrLf) {
  const platform::LocalTime t{2024, 5, 1, 14, 3, 7, 250};
  EXPECT_EQ(FormatLogLine(t, ":", "UI: x", false), "2024-05-01 14:03:07.250  UI: x\r\n");
  EXPECT_EQ(FormatLogLine(t, ":", "", true), std::string(kBom) + "2024-05-01 14:03:07.250  \r\n");
}

TEST_F(LoggerTest, NewFileGetsMarkThenStartLinesAndLaterRunsAppendWithoutMark) {
  LoggerStartupAt(path_.string());
  EXPECT_EQ(LogPath(), path_.string());
  LoggerFinalize();
  EXPECT_EQ(LogPath(), "");
  LoggerStartupAt(path_.string());
  LoggerFinalize();

  const std::string text = test::ReadFileBytes(path_);
  ASSERT_EQ(text.rfind(kBom, 0), 0u);
  EXPECT_EQ(text.find(kBom, 3), std::string::npos) << "second run wrote another mark";
  const auto lines = Lines(text.substr(3));
  ASSERT_EQ(lines.size(), 8u);
  const std::vector<std::string> expect = {"======== Quorvel Setup started ========", "Exe: ", "OS: ",
                                           "======== Setup exited ========"};
  for (size_t run = 0; run < 2; ++run) {
    for (size_t i = 0; i < 4; ++i) {
      const std::string& l = lines[run * 4 + i];
      EXPECT_TRUE(std::regex_match(l, kStamped)) << l;
      EXPECT_EQ(l.substr(25, expect[i].size()), expect[i]) << l;
    }
  }
  EXPECT_GT(lines[1].size(), 25u + 5u) << "Exe line names no path";
}

TEST_F(LoggerTest, EmptyExistingFileGetsMark) {
  std::ofstream(path_).close();
  LoggerStartupAt(path_.string());
  Log("UI: hello");
  EXPECT_EQ(test::ReadFileBytes(path_).rfind(kBom, 0), 0u);
}

TEST_F(LoggerTest, NeverWritesThroughALinkedName) {
  // Another program of the user links the log's name to a file it could not write itself.
  const fs::path target = dir_ / "protected.txt";
  for (const bool hard : {true, false}) {
    SCOPED_TRACE(hard ? "hard link" : "symbolic link");
    std::ofstream(target, std::ios::binary) << "protected bytes";
    fs::remove(path_);
    if (hard) fs::create_hard_link(target, path_);
    else fs::create_symlink(target, path_);
    LoggerStartupAt(path_.string());
    Log("UI: hello");
    LoggerFinalize();
    EXPECT_EQ(test::ReadFileBytes(target), "protected bytes");
    EXPECT_FALSE(fs::is_symlink(path_));
    const std::string text = test::ReadFileBytes(path_);
    ASSERT_EQ(text.rfind(kBom, 0), 0u) << "a new log starts with the mark";
    const auto lines = Lines(text.substr(3));
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0].substr(25), kLinkedLogReplaced);
    EXPECT_EQ(lines[1].substr(25), "======== Quorvel Setup started ========");
    EXPECT_EQ(std::count(lines.begin(), lines.end(), lines[0]), 1) << "the notice is written once";
  }
}

TEST_F(LoggerTest, MessagesAreWrittenUnchanged) {
  std::ofstream(path_, std::ios::binary) << "old\r\n";
  LoggerStartupAt(path_.string());
  Log("L10N: \xE4\xB8\x8B\xE8\xBD\xBD\xE6\x95\xB4\xE4\xB8\xAA");  // 下载整个
  Log("first\nsecond");
  Log("");
  LogFmt("FLOW: auto-retry %d/%d in %d ms (resume from byte %d)", {1, 3, 1000, 5000000000LL});
  const std::string text = test::ReadFileBytes(path_);
  EXPECT_EQ(text.rfind("old\r\n", 0), 0u) << "no mark before a non-empty file's new lines";
  const auto lines = Lines(text);
  ASSERT_EQ(lines.size(), 1u + 3u + 4u);
  EXPECT_EQ(lines[4].substr(25), "L10N: \xE4\xB8\x8B\xE8\xBD\xBD\xE6\x95\xB4\xE4\xB8\xAA");
  EXPECT_EQ(lines[5].substr(25), "first\nsecond");
  EXPECT_EQ(lines[6].size(), 25u);
  EXPECT_EQ(lines[7].substr(25), "FLOW: auto-retry 1/3 in 1000 ms (resume from byte 5000000000)");
}

TEST_F(LoggerTest, ManyThreadsWriteWholeLinesAndLoseNone) {
  LoggerStartupAt(path_.string());
  constexpr int kThreads = 8, kPerThread = 300;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([t] {
      for (int i = 0; i < kPerThread; ++i)
        LogFmt("DL: thread %d line %d %s", {t, i, std::string(100, static_cast<char>('a' + t))});
    });
  for (auto& th : threads) th.join();

  const auto lines = Lines(test::ReadFileBytes(path_).substr(3));
  ASSERT_EQ(lines.size(), 3u + kThreads * kPerThread);
  std::vector<int> next(kThreads, 0);
  const std::regex line(R"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3}  DL: thread (\d) line (\d+) ([a-z]{100})$)");
  for (size_t i = 3; i < lines.size(); ++i) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[i], m, line)) << "torn line: " << lines[i];
    const int t = std::stoi(m[1]);
    EXPECT_EQ(std::stoi(m[2]), next[t]++) << "a thread's lines are out of order";
    EXPECT_EQ(m[3].str(), std::string(100, static_cast<char>('a' + t)));
  }
}

TEST_F(LoggerTest, FileHeldByAnotherOwnerLosesTheLineAndReturns) {
  LoggerStartupAt(path_.string());
  const size_t before = test::ReadFileBytes(path_).size();
  const int fd = ::open(path_.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(flock(fd, LOCK_EX), 0);
  Log("UI: lost");
  ::close(fd);
  Log("UI: kept");
  const std::string text = test::ReadFileBytes(path_);
  EXPECT_EQ(text.find("UI: lost"), std::string::npos);
  EXPECT_NE(text.find("UI: kept", before), std::string::npos);
}

TEST_F(LoggerTest, UnwritableFolderAndLateCallsAreHarmless) {
  LoggerStartupAt((dir_ / "missing" / "x.log").string());  // folder does not exist
  Log("UI: nowhere");
  EXPECT_FALSE(fs::exists(dir_ / "missing"));
  LoggerFinalize();

  LoggerStartupAt(path_.string());
  LoggerFinalize();
  const size_t size = fs::file_size(path_);
  Log("GA: late line from a detached thread");
  LogFmt("GA: %s", {"late"});
  EXPECT_EQ(fs::file_size(path_), size);
}
