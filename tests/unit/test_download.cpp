// The download worker's decisions, driven through scripted fakes of the HTTP transport, the
// file system, the tick count and the UI-thread call.  The real WinHTTP transport and files
// are exercised under Wine (tests/wine).
#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <thread>

#include "app/uLogger.h"
#include "download/uDownloader.h"

namespace fs = std::filesystem;
using namespace qv;
using namespace qv::dl;

namespace {

std::string Bytes(size_t n, char seed) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(seed + i % 23);
  return s;
}

// ---- files ---------------------------------------------------------------------------------

struct FakeDisk {
  std::mutex m;
  std::map<std::string, std::string> files;
  std::set<std::string> locked;       // exist, but cannot be opened
  std::set<std::string> uncreatable;  // folder cannot be written
  bool failWrites = false;
  std::set<std::string> linked;  // names that are links to other files
  std::function<void(std::string& bytes)> beforeLock;  // another program changes the file
  int openHandles = 0;
  bool deletedWhileOpen = false;
  int creates = 0;
};

class FakeFile : public IDownloadFile {
 public:
  FakeFile(std::shared_ptr<FakeDisk> d, std::string p) : disk(std::move(d)), path(std::move(p)) {
    ++disk->openHandles;
    pos = 0;
  }
  ~FakeFile() override { --disk->openHandles; }
  int64_t Size() override { return static_cast<int64_t>(disk->files[path].size()); }
  void Truncate(int64_t size) override {
    disk->files[path].resize(static_cast<size_t>(size));
    pos = static_cast<size_t>(size);
  }
  void Write(const char* data, size_t size) override {
    if (disk->failWrites) throw TDownloadError(kFileWriteError, "Stream write error: There is not enough space on the disk.");
    std::string& f = disk->files[path];
    if (f.size() < pos + size) f.resize(pos + size);
    f.replace(pos, size, data, size);
    pos += size;
  }
  bool IsPlain() override { return disk->linked.count(path) == 0; }
  size_t ReadAt(int64_t offset, char* buffer, size_t size) override {
    const std::string& f = disk->files[path];
    if (static_cast<size_t>(offset) >= f.size()) return 0;
    const size_t n = std::min(size, f.size() - static_cast<size_t>(offset));
    f.copy(buffer, n, static_cast<size_t>(offset));
    return n;
  }
  std::shared_ptr<FakeDisk> disk;
  std::string path;
  size_t pos;
};

// Read while others may only read: while one is open, `lockedReaders` counts it.
class FakeLockedFile : public ILockedFile {
 public:
  FakeLockedFile(std::shared_ptr<FakeDisk> d, std::string p) : disk(std::move(d)), bytes(disk->files[p]) {
    ++disk->openHandles;
  }
  ~FakeLockedFile() override { --disk->openHandles; }
  size_t Read(char* buffer, size_t size) override {
    const size_t n = std::min(size, bytes.size() - pos);
    bytes.copy(buffer, n, pos);
    pos += n;
    return n;
  }
  std::shared_ptr<FakeDisk> disk;
  std::string bytes;
  size_t pos = 0;
};

// Stands in for SHA-256: the "digest" is the bytes themselves, which is exact for small files.
class FakeDigest : public IDigest {
 public:
  void Update(const char* data, size_t size) override { bytes.append(data, size); }
  std::unique_ptr<IDigest> Clone() const override { return std::make_unique<FakeDigest>(*this); }
  std::string Value() const override { return bytes; }
  std::string bytes;
};

class FakeFileSystem : public IFileSystem {
 public:
  explicit FakeFileSystem(std::shared_ptr<FakeDisk> d) : disk(std::move(d)) {}
  bool Exists(const std::string& p) override { return disk->files.count(p) > 0; }
  std::unique_ptr<IDownloadFile> OpenExisting(const std::string& p) override {
    if (!disk->files.count(p) || disk->locked.count(p)) {
      throw TDownloadError(kFileOpenError, "Cannot open file \"" + p + "\". The process cannot access the file.");
    }
    auto f = std::make_unique<FakeFile>(disk, p);
    f->pos = disk->files[p].size();
    return f;
  }
  std::unique_ptr<IDownloadFile> Create(const std::string& p) override {
    if (disk->uncreatable.count(p)) {
      throw TDownloadError(kFileCreateError, "Cannot create file \"" + p + "\". Access is denied.");
    }
    ++disk->creates;
    disk->linked.erase(p);  // the name was deleted first: a new, plain file
    disk->files[p].clear();
    return std::make_unique<FakeFile>(disk, p);
  }
  std::unique_ptr<ILockedFile> OpenLocked(const std::string& p) override {
    if (disk->beforeLock) disk->beforeLock(disk->files[p]);
    if (!disk->files.count(p)) throw TDownloadError(kFileOpenError, "Cannot open file \"" + p + "\".");
    return std::make_unique<FakeLockedFile>(disk, p);
  }
  void Delete(const std::string& p) noexcept override {
    if (disk->openHandles > 0) disk->deletedWhileOpen = true;
    disk->files.erase(p);
  }
  std::shared_ptr<FakeDisk> disk;
};

// ---- HTTP ----------------------------------------------------------------------------------

struct Answer {
  int status = 200;
  std::string text = "OK";
  std::string body;
  int64_t length = -2;  // -2: the body's size; -1: none announced
  std::string location;
  size_t chunk = 100;
  std::optional<TDownloadError> sendError;
  std::optional<TDownloadError> readError;  // raised once the body is used up
  std::optional<TDownloadError> statusTextError;
};

struct Script {
  std::deque<Answer> answers;
  std::vector<std::pair<std::string, THeaders>> requests;
  THttpSettings settings;
  std::function<void(int64_t)> onChunk;  // after each chunk handed out
};

class FakeExchange : public IHttpExchange {
 public:
  FakeExchange(Answer a, Script* s) : answer(std::move(a)), script(s) {}
  int StatusCode() override { return answer.status; }
  std::string StatusText() override {
    if (answer.statusTextError) throw *answer.statusTextError;
    return answer.text;
  }
  int64_t ContentLength() override {
    return answer.length == -2 ? static_cast<int64_t>(answer.body.size()) : answer.length;
  }
  std::string Location() override { return answer.location; }
  size_t Read(char* buffer, size_t capacity) override {
    if (offset >= answer.body.size()) {
      if (answer.readError) throw *answer.readError;
      return 0;
    }
    const size_t n = std::min({capacity, answer.chunk, answer.body.size() - offset});
    std::copy_n(answer.body.data() + offset, n, buffer);
    offset += n;
    if (script->onChunk) script->onChunk(static_cast<int64_t>(offset));
    return n;
  }
  Answer answer;
  Script* script;
  size_t offset = 0;
};

class FakeTransport : public IHttpTransport {
 public:
  explicit FakeTransport(std::shared_ptr<Script> s) : script(std::move(s)) {}
  std::unique_ptr<IHttpExchange> Send(const std::string& url, const THeaders& headers) override {
    script->requests.emplace_back(url, headers);
    if (script->answers.empty()) throw TDownloadError(kNetClientError, "no scripted answer");
    Answer a = script->answers.front();
    script->answers.pop_front();
    if (a.sendError) throw *a.sendError;
    return std::make_unique<FakeExchange>(std::move(a), script.get());
  }
  std::shared_ptr<Script> script;
};

// ---- a run ---------------------------------------------------------------------------------

struct Progress {
  int64_t read, total;
};

struct Outcome {
  bool completed = false;
  bool success = false;
  std::string message, kind;
  int status = -1;
  int64_t bytesOnDisk = -1;
  std::vector<Progress> progress;
  std::vector<std::string> log;  // the DL: lines
  bool freed = false;
  std::string digest;    // of the bytes kept for resumption, "<none>" when none is handed over
  bool checked = false;  // a checked, locked file was handed over
};

const std::string kUrl = "https://dl.example/quorvel.exe";
const std::string kDest = "C:\\Temp\\quorvel_setup.exe";

struct Fixture {
  std::shared_ptr<FakeDisk> disk = std::make_shared<FakeDisk>();
  std::shared_ptr<Script> script = std::make_shared<Script>();
  std::function<uint32_t()> ticks;  // default: +1000 ms a call
  int uiCallsBeforeGone = -1;       // the UI thread's dispatcher disappears after so many calls
  std::function<void(TDownloadThread*)> onStart;
  std::optional<std::string> carriedBytes;  // what the previous attempt hashed, when not the file

  Outcome Go(int64_t resumeFrom, std::string url = kUrl) {
    fs::path logPath = fs::temp_directory_path() /
                       ("qv_dl_test_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
                        std::to_string(reinterpret_cast<uintptr_t>(this)) + ".log");
    fs::remove(logPath);
    LoggerStartupAt(logPath.string());

    auto run = std::make_shared<Outcome>();
    // The token dies with the services, that is when the worker frees itself.  Its deleter
    // fulfils a promise: waiting on that (not polling a weak_ptr, whose check is a relaxed load)
    // also makes everything the worker wrote visible to this thread.
    auto freedSignal = std::make_shared<std::promise<void>>();
    std::future<void> freed = freedSignal->get_future();
    std::shared_ptr<int> token(new int(0), [freedSignal](int* p) {
      delete p;
      freedSignal->set_value();
    });
    TDownloadServices services;
    auto sc = script;
    services.CreateHttp = [sc](const THttpSettings& s) -> std::unique_ptr<IHttpTransport> {
      sc->settings = s;
      return std::make_unique<FakeTransport>(sc);
    };
    services.Files = std::make_shared<FakeFileSystem>(disk);
    services.CreateDigest = [] { return std::unique_ptr<IDigest>(std::make_unique<FakeDigest>()); };
    uint32_t next = 5000;
    services.TickCount = ticks ? ticks : [next, token]() mutable { return next += 1000; };
    int left = uiCallsBeforeGone;
    services.RunOnUiThread = [left, token](const std::function<void()>& fn) mutable {
      if (left == 0) return false;
      if (left > 0) --left;
      fn();
      return true;
    };
    // The previous attempt's digest of the kept bytes, as it wrote them (unless a test says).
    std::unique_ptr<IDigest> carried;
    if (resumeFrom > 0) {
      auto d = std::make_unique<FakeDigest>();
      d->bytes = carriedBytes ? *carriedBytes : (Exists() ? File().substr(0, static_cast<size_t>(resumeFrom)) : "");
      carried = std::move(d);
    }
    TDownloadThread* w = TDownloadThread::CreateWith(url, kDest, resumeFrom, std::move(services), std::move(carried));
    token.reset();
    w->SetOnProgress([run](TDownloadThread*, int64_t r, int64_t t) { run->progress.push_back({r, t}); });
    w->SetOnComplete([run](TDownloadThread* s, bool ok, const std::string& msg) {
      run->completed = true;
      run->success = ok;
      run->message = msg;
      run->kind = s->FailKind();
      run->status = s->HttpStatus();
      run->bytesOnDisk = s->BytesOnDisk();
      auto digest = s->TakeDigest();
      run->digest = digest ? digest->Value() : "<none>";
      run->checked = s->TakeCheckedFile() != nullptr;
    });
    if (onStart) onStart(w);
    w->Start();
    run->freed = freed.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    std::ifstream in(logPath, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      const size_t at = line.find("  DL: ");
      if (at != std::string::npos) run->log.push_back(line.substr(at + 2));
    }
    in.close();
    fs::remove(logPath);
    EXPECT_TRUE(run->freed) << "the worker did not free itself";
    EXPECT_FALSE(disk->deletedWhileOpen) << "a file was deleted while the worker still held it";
    EXPECT_EQ(disk->openHandles, 0);
    return *run;
  }

  bool Exists() const { return disk->files.count(kDest) > 0; }
  std::string File() const { return disk->files.count(kDest) ? disk->files.at(kDest) : std::string("<none>"); }
};

Answer Ok(std::string body, int status = 200, std::string text = "OK") {
  Answer a;
  a.status = status;
  a.text = std::move(text);
  a.body = std::move(body);
  return a;
}

std::string RangeOf(const Script& s, size_t i = 0) {
  for (const auto& [k, v] : s.requests.at(i).second) {
    if (k == "Range") return v;
  }
  return "";
}

TDownloadError NetRead() {
  return TDownloadError(kNetResponseError, "Error reading data: (12030) The connection with the server was terminated abnormally");
}

}  // namespace

// ---- settings and the plain paths -----------------------------------------------------------

TEST(DownloadWorker, FreshDownloadWithLength) {
  Fixture f;
  f.disk->files[kDest] = "stale bytes that must go";
  const std::string body = Bytes(1000, 'a');
  f.script->answers.push_back(Ok(body));
  Outcome r = f.Go(0);
  ASSERT_TRUE(r.completed);
  EXPECT_TRUE(r.success);
  EXPECT_EQ(r.message, "");
  EXPECT_EQ(r.kind, "");
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.bytesOnDisk, 0);
  EXPECT_EQ(f.File(), body);
  EXPECT_TRUE(r.checked) << "the checked file is handed over, still locked";
  EXPECT_EQ(r.digest, "<none>") << "nothing is kept for resumption";
  EXPECT_EQ(f.script->settings.UserAgent, "OnlineInstaller/1.0");
  EXPECT_EQ(f.script->settings.ConnectTimeoutMs, 15000);
  EXPECT_EQ(f.script->settings.ResponseTimeoutMs, 30000);
  EXPECT_EQ(f.script->settings.SendTimeoutMs, 60000);  // the client default the worker relies on, not WinHTTP's 30 s
  EXPECT_EQ(f.script->settings.MaxRedirects, 5);
  ASSERT_EQ(f.script->requests.size(), 1u);
  EXPECT_TRUE(f.script->requests[0].second.empty());
  // Every callback is reported when the ticks are far apart: 0, then each of the 10 chunks.
  ASSERT_EQ(r.progress.size(), 11u);
  EXPECT_EQ(r.progress.front().read, 0);
  EXPECT_EQ(r.progress.back().read, 1000);
  for (const auto& p : r.progress) EXPECT_EQ(p.total, 1000);
  EXPECT_EQ(r.log, (std::vector<std::string>{
                       "DL: GET " + kUrl + " -> " + kDest,
                       "DL: content length 1000 bytes (+ 0 already on disk)",
                       "DL: HTTP 200 OK, received 1000 bytes total",
                   }));
}

TEST(DownloadWorker, FileChangedBeforeTheCheckIsAFailedAttempt) {
  Fixture f;
  const std::string body = Bytes(1000, 'a');
  f.script->answers.push_back(Ok(body));
  // Another program rewrites the complete file before the worker has it locked.
  f.disk->beforeLock = [](std::string& bytes) { bytes.replace(0, 2, "MZ"); };
  Outcome r = f.Go(0);
  EXPECT_FALSE(r.success);
  EXPECT_EQ(r.kind, "changed");
  EXPECT_EQ(r.message, "The downloaded file was changed before it could be checked.");
  EXPECT_EQ(r.status, 200) << "retried like any other failure";
  EXPECT_EQ(r.bytesOnDisk, 0);
  EXPECT_EQ(r.digest, "<none>");
  EXPECT_FALSE(r.checked);
  EXPECT_FALSE(f.Exists()) << "the changed file is deleted";
  EXPECT_EQ(r.log.back(), "DL: file changed before it could be checked, deleted");
}

TEST(DownloadWorker, KeptBytesAreCheckedBeforeTheyAreResumedAndHandedOn) {
  {
    SCOPED_TRACE("kept bytes changed since the attempt that wrote them");
    Fixture f;
    f.disk->files[kDest] = Bytes(1000, 'A');
    f.carriedBytes = Bytes(1000, 'B');
    f.script->answers.push_back(Ok(Bytes(300, 'c')));
    Outcome r = f.Go(1000);
    EXPECT_TRUE(r.success);
    EXPECT_EQ(f.File(), Bytes(300, 'c'));
    ASSERT_EQ(f.script->requests.size(), 1u);
    EXPECT_TRUE(f.script->requests[0].second.empty()) << "no range request onto unchecked bytes";
    EXPECT_EQ(r.log[0], "DL: partial file unusable, restarting from zero");
  }
  {
    SCOPED_TRACE("a short answer keeps its bytes and hands on their digest");
    Fixture f;
    f.disk->files[kDest] = Bytes(1000, 'A');
    Answer a = Ok(Bytes(500, 'd'), 206, "Partial Content");
    a.length = 800;  // announces 800, sends 500
    f.script->answers.push_back(a);
    Outcome r = f.Go(1000);
    EXPECT_FALSE(r.success);
    EXPECT_EQ(r.kind, "incomplete");
    EXPECT_EQ(r.bytesOnDisk, 1500);
    EXPECT_EQ(r.digest, Bytes(1000, 'A') + Bytes(500, 'd')) << "the digest covers exactly the kept bytes";
  }
}

TEST(DownloadWorker, ResponseWithoutLengthIsCompleteWhateverItsSize) {
  Fixture f;
  Answer a = Ok(Bytes(350, 'x'));
  a.length = -1;
  f.script->answers.push_back(a);
  Outcome r = f.Go(0);
  EXPECT_TRUE(r.success);
  EXPECT_EQ(f.File().size(), 350u);
  ASSERT_FALSE(r.progress.empty());
  for (const auto& p : r.progress) EXPECT_EQ(p.total, 0);
  EXPECT_EQ(r.progress.back().read, 350);
  EXPECT_EQ(r.log.size(), 2u);  // no content-length line
}

// ---- the partial file ------------------------------------------------------------------------

TEST(DownloadWorker, ResumeDecisionTable) {
  struct Case {
    const char* name;
    int64_t resumeFrom;
    std::optional<size_t> localSize;  // none: no file
    bool locked;
    bool expectRange;
    std::string expectFile;  // after a successful transfer of `rest`
  };
  const std::string old = Bytes(1200, 'A');
  const std::string rest = Bytes(500, 'r');
  const std::string whole = Bytes(1500, 'w');
  const Case cases[] = {
      {"fresh replaces any file", 0, 800, false, false, whole},
      {"no local file", 1000, std::nullopt, false, false, whole},
      {"shorter than the offset", 1000, 500, false, false, whole},
      {"exactly the offset", 1000, 1000, false, true, old.substr(0, 1000) + rest},
      {"longer than the offset", 1000, 1200, false, true, old.substr(0, 1000) + rest},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fixture f;
    if (c.localSize) f.disk->files[kDest] = old.substr(0, *c.localSize);
    f.script->answers.push_back(c.expectRange ? Ok(rest, 206, "Partial Content") : Ok(whole));
    Outcome r = f.Go(c.resumeFrom);
    EXPECT_TRUE(r.success);
    EXPECT_EQ(f.File(), c.expectFile);
    ASSERT_EQ(f.script->requests.size(), 1u);
    EXPECT_EQ(RangeOf(*f.script), c.expectRange ? "bytes=1000-" : "");
    const bool unusable = c.resumeFrom > 0 && !c.expectRange;
    EXPECT_EQ(!r.log.empty() && r.log[0] == "DL: partial file unusable, restarting from zero", unusable);
    if (c.expectRange) {
      EXPECT_EQ(r.log[0], "DL: RESUME " + kUrl + " -> " + kDest + " from byte 1000");
      EXPECT_EQ(r.log[1], "DL: content length 500 bytes (+ 1000 already on disk)");
      EXPECT_EQ(r.progress.front().read, 1000);
      EXPECT_EQ(r.progress.back().read, 1500);
      EXPECT_EQ(r.progress.back().total, 1500);
    } else {
      EXPECT_EQ(r.log[unusable ? 1 : 0], "DL: GET " + kUrl + " -> " + kDest);
      EXPECT_EQ(r.progress.front().read, 0);
      EXPECT_EQ(r.progress.back().total, 1500);
    }
  }
}

TEST(DownloadWorker, LinkedPartialFileIsNeverResumed) {
  // Another program replaced the kept bytes with a link to a file of its choice.
  Fixture f;
  f.disk->files[kDest] = Bytes(1200, 'A');
  f.disk->linked.insert(kDest);
  Answer a;
  a.body = Bytes(500, 'B');
  f.script->answers.push_back(a);
  Outcome r = f.Go(1000);
  EXPECT_TRUE(r.success);
  EXPECT_EQ(f.File(), Bytes(500, 'B'));
  EXPECT_EQ(f.disk->creates, 1) << "the file is made anew";
  ASSERT_EQ(f.script->requests.size(), 1u);
  EXPECT_TRUE(f.script->requests[0].second.empty()) << "no range request onto a linked file";
  EXPECT_EQ(r.log[0], "DL: partial file unusable, restarting from zero");
}

TEST(DownloadWorker, PartialFileThatCannotBeOpenedIsLeftAndHandedBack) {
  Fixture f;
  f.disk->files[kDest] = Bytes(1200, 'A');
  f.disk->locked.insert(kDest);
  Outcome r = f.Go(1000);
  EXPECT_FALSE(r.success);
  EXPECT_EQ(r.kind, "efopenerror");
  EXPECT_EQ(r.message.rfind("Cannot open file \"" + kDest + "\".", 0), 0u) << r.message;
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.bytesOnDisk, 1000);
  EXPECT_EQ(f.File(), Bytes(1200, 'A'));
  EXPECT_TRUE(f.script->requests.empty());
  ASSERT_EQ(r.log.size(), 2u);
  EXPECT_EQ(r.log[0], "DL: exception EFOpenError: " + r.message + " (cancelled=False, 0 bytes read)");
  EXPECT_EQ(r.log[1], "DL: keeping 1000-byte partial for resume");
}

TEST(DownloadWorker, DestinationThatCannotBeCreatedSendsNoRequest) {
  Fixture f;
  f.disk->uncreatable.insert(kDest);
  Outcome r = f.Go(0);
  EXPECT_EQ(r.kind, "efcreateerror");
  EXPECT_EQ(r.message, "Cannot create file \"" + kDest + "\". Access is denied.");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.bytesOnDisk, 0);
  EXPECT_TRUE(f.script->requests.empty());
  EXPECT_FALSE(f.Exists());
}

// ---- outcomes that follow the response -------------------------------------------------------

TEST(DownloadWorker, StatusOutcomes) {
  struct Case {
    const char* name;
    int64_t resumeFrom;
    Answer answer;
    bool success;
    std::string message, kind;
    int64_t bytesOnDisk;
    std::optional<std::string> file;  // none: deleted
    std::string httpLine;
  };
  const std::string old = Bytes(1000, 'A');
  Answer notFound = Ok("<html>missing</html>", 404, "Not Found");
  Answer unsatisfiable = Ok("", 416, "Range Not Satisfiable");
  Answer unavailable = Ok("busy", 503, "Service Unavailable");
  Answer ignored = Ok(Bytes(1500, 'w'));
  Answer shortFresh = Ok(Bytes(90, 'a'));
  shortFresh.length = 100;
  Answer shortResumed = Ok(Bytes(490, 'r'), 206, "Partial Content");
  shortResumed.length = 500;
  Answer otherSuccess = Ok(Bytes(500, 'r'), 203, "Non-Authoritative Information");
  const Case cases[] = {
      {"404", 0, notFound, false, "Server returned HTTP 404 Not Found", "", 0, std::nullopt,
       "DL: HTTP 404 Not Found, received 0 bytes total"},
      {"416 on a resume", 1000, unsatisfiable, false, "Server returned HTTP 416 Range Not Satisfiable", "", 0,
       std::nullopt, "DL: HTTP 416 Range Not Satisfiable, received 0 bytes total"},
      {"503", 0, unavailable, false, "Server returned HTTP 503 Service Unavailable", "", 0, std::nullopt,
       "DL: HTTP 503 Service Unavailable, received 0 bytes total"},
      {"200 to a range request", 1000, ignored, false, "Server ignored the resume request.", "resume_ignored", 0,
       std::nullopt, "DL: HTTP 200 OK, received 2500 bytes total"},
      {"short fresh body", 0, shortFresh, false, "Connection closed before the download completed.", "incomplete",
       90, Bytes(90, 'a'), "DL: HTTP 200 OK, received 90 bytes total"},
      {"short resumed body", 1000, shortResumed, false, "Connection closed before the download completed.",
       "incomplete", 1490, old + Bytes(490, 'r'), "DL: HTTP 206 Partial Content, received 1490 bytes total"},
      {"other 2xx to a range request", 1000, otherSuccess, true, "", "", 0, old + Bytes(500, 'r'),
       "DL: HTTP 203 Non-Authoritative Information, received 1500 bytes total"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fixture f;
    if (c.resumeFrom) f.disk->files[kDest] = old;
    f.script->answers.push_back(c.answer);
    Outcome r = f.Go(c.resumeFrom);
    ASSERT_TRUE(r.completed);
    EXPECT_EQ(r.success, c.success);
    EXPECT_EQ(r.message, c.message);
    EXPECT_EQ(r.kind, c.kind);
    EXPECT_EQ(r.status, c.answer.status);
    EXPECT_EQ(r.bytesOnDisk, c.bytesOnDisk);
    if (c.file) {
      EXPECT_EQ(f.File(), *c.file);
    } else {
      EXPECT_FALSE(f.Exists());
    }
    EXPECT_NE(std::find(r.log.begin(), r.log.end(), c.httpLine), r.log.end()) << ::testing::PrintToString(r.log);
    if (c.answer.status >= 300) {
      EXPECT_TRUE(r.progress.empty());  // no callback for those
    }
    if (c.kind == "incomplete") {
      EXPECT_EQ(r.log.back(), "DL: body incomplete (" + std::to_string(c.bytesOnDisk) + " of " +
                                  std::to_string(c.resumeFrom + c.answer.length) +
                                  " bytes), keeping partial for resume");
    }
  }
}

// ---- errors ----------------------------------------------------------------------------------

TEST(DownloadWorker, ErrorHandlerDecidesWhatStaysOnDisk) {
  const std::string old = Bytes(1000, 'A');
  const TDownloadError headerError(kNetHeaderError, "Error querying headers: (12150) The requested header could not be located.");
  struct Case {
    const char* name;
    int64_t resumeFrom;
    Answer answer;
    bool failWrites;
    std::string kind;
    int status;
    int64_t bytesOnDisk;
    bool fileKept;
  };
  Answer refused;
  refused.sendError = TDownloadError(kNetClientError, "Error sending data: (12029) A connection with the server could not be established");
  Answer resetFresh = Ok(Bytes(300, 'a'));
  resetFresh.length = 1000;
  resetFresh.readError = NetRead();
  Answer resetResumed = Ok(Bytes(300, 'r'), 206, "Partial Content");
  resetResumed.length = 500;
  resetResumed.readError = NetRead();
  Answer certificate;
  certificate.sendError = TDownloadError(kNetCertificateError, "Server Certificate not accepted: (12045) Invalid CA");
  // An error after the response came back: the status is known by then.
  Answer late200 = Ok(Bytes(400, 'a'));
  late200.statusTextError = headerError;
  Answer late206 = Ok(Bytes(400, 'r'), 206);
  late206.statusTextError = headerError;
  Answer late200OnResume = Ok(Bytes(400, 'w'));
  late200OnResume.statusTextError = headerError;
  Answer late500 = Ok("oops", 500);
  late500.statusTextError = headerError;
  const Case cases[] = {
      {"refused, fresh", 0, refused, false, "enethttpclientexception", 0, 0, false},
      {"refused, resumed", 1000, refused, false, "enethttpclientexception", 0, 1000, true},
      {"certificate", 0, certificate, false, "enethttpcertificateexception", 0, 0, false},
      {"reset in a fresh body", 0, resetFresh, false, "enethttpresponseexception", 0, 0, false},
      {"reset in a resumed body", 1000, resetResumed, false, "enethttpresponseexception", 0, 1000, true},
      {"disk full, fresh", 0, Ok(Bytes(300, 'a')), true, "ewriteerror", 0, 0, false},
      {"disk full, resumed", 1000, Ok(Bytes(300, 'r'), 206), true, "ewriteerror", 0, 1000, true},
      {"after a 200, fresh", 0, late200, false, "enethttpexception", 200, 400, true},
      {"after a 206, resumed", 1000, late206, false, "enethttpexception", 206, 1400, true},
      {"after a 200, resumed", 1000, late200OnResume, false, "enethttpexception", 200, 0, false},
      {"after a 500", 0, late500, false, "enethttpexception", 500, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fixture f;
    if (c.resumeFrom) f.disk->files[kDest] = old;
    f.disk->failWrites = c.failWrites;
    f.script->answers.push_back(c.answer);
    Outcome r = f.Go(c.resumeFrom);
    ASSERT_TRUE(r.completed);
    EXPECT_FALSE(r.success);
    EXPECT_EQ(r.kind, c.kind);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.bytesOnDisk, c.bytesOnDisk);
    EXPECT_EQ(f.Exists(), c.fileKept);
    if (c.fileKept) {
      EXPECT_GE(f.File().size(), static_cast<size_t>(c.bytesOnDisk));
    }
    ASSERT_FALSE(r.log.empty());
    const std::string exceptionLine = c.fileKept ? r.log[r.log.size() - 2] : r.log.back();
    EXPECT_EQ(exceptionLine.rfind("DL: exception E", 0), 0u) << exceptionLine;
    EXPECT_NE(exceptionLine.find(": " + r.message + " (cancelled=False, "), std::string::npos) << exceptionLine;
    if (c.fileKept) {
      EXPECT_EQ(r.log.back(), "DL: keeping " + std::to_string(c.bytesOnDisk) + "-byte partial for resume");
    }
  }
}

TEST(DownloadWorker, ResetInFreshBodyReportsBytesReadInLog) {
  Fixture f;
  Answer a = Ok(Bytes(300, 'a'));
  a.length = 1000;
  a.readError = NetRead();
  f.script->answers.push_back(a);
  Outcome r = f.Go(0);
  EXPECT_EQ(r.message, NetRead().what());
  EXPECT_EQ(r.log.back(), "DL: exception ENetHTTPResponseException: " + r.message +
                              " (cancelled=False, 300 bytes read)");
}

// ---- redirects -------------------------------------------------------------------------------

TEST(DownloadWorker, Redirects) {
  auto hop = [](std::string to) {
    Answer a = Ok("moved", 302, "Found");
    a.location = std::move(to);
    return a;
  };
  {
    SCOPED_TRACE("five hops are followed, the Range header on each, only the final body kept");
    Fixture f;
    f.disk->files[kDest] = Bytes(1000, 'A');
    f.script->answers = {hop("/r4"), hop("r3"), hop("https://mirror.example/r2"), hop("//cdn.example/r1"),
                         hop("/final"), Ok(Bytes(500, 'r'), 206)};
    Outcome r = f.Go(1000);
    EXPECT_TRUE(r.success);
    EXPECT_EQ(f.File(), Bytes(1000, 'A') + Bytes(500, 'r'));
    ASSERT_EQ(f.script->requests.size(), 6u);
    EXPECT_EQ(f.script->requests[2].first, "https://dl.example/r3");
    EXPECT_EQ(f.script->requests[4].first, "https://cdn.example/r1");
    EXPECT_EQ(f.script->requests[5].first, "https://cdn.example/final");
    for (size_t i = 0; i < 6; ++i) EXPECT_EQ(RangeOf(*f.script, i), "bytes=1000-");
  }
  {
    SCOPED_TRACE("the sixth hop fails");
    Fixture f;
    f.script->answers = {hop("/1"), hop("/2"), hop("/3"), hop("/4"), hop("/5"), hop("/6"), Ok("never")};
    Outcome r = f.Go(0);
    EXPECT_FALSE(r.success);
    EXPECT_EQ(r.message, "Maximum number of redirections (5) exceeded");
    EXPECT_EQ(r.kind, "enethttprequestexception");
    EXPECT_EQ(r.status, 0);
    EXPECT_FALSE(f.Exists());
    EXPECT_EQ(f.script->requests.size(), 6u);
  }
  {
    SCOPED_TRACE("no step down from https to http");
    Fixture f;
    f.script->answers = {hop("http://dl.example/plain")};
    Outcome r = f.Go(0);
    EXPECT_EQ(r.message, "Server returned HTTP 302 Found");
    EXPECT_EQ(r.status, 302);
  }
}

TEST(DownloadUrl, ResolvesRedirectTargets) {
  const std::string base = "https://h.example:8443/a/b/file.exe?x=1";
  EXPECT_EQ(ResolveUrl(base, "https://o.example/z"), "https://o.example/z");
  EXPECT_EQ(ResolveUrl(base, "HTTP://o.example/z"), "HTTP://o.example/z");
  EXPECT_EQ(ResolveUrl(base, "//o.example/z"), "https://o.example/z");
  EXPECT_EQ(ResolveUrl(base, "/z?q"), "https://h.example:8443/z?q");
  EXPECT_EQ(ResolveUrl(base, "other.exe"), "https://h.example:8443/a/b/other.exe");
  EXPECT_EQ(ResolveUrl(base, "?y=2"), "https://h.example:8443/a/b/file.exe?y=2");
  EXPECT_EQ(ResolveUrl("https://h.example", "f"), "https://h.example/f");
  // A base without a path: the reference goes below the root, never onto the host name.
  EXPECT_EQ(ResolveUrl("https://h.example?t=1", "evil.example/f"), "https://h.example/evil.example/f");
  EXPECT_EQ(ResolveUrl("https://h.example#x", "?y"), "https://h.example/?y");
  EXPECT_EQ(ResolveUrl(base + "#top", "#part"), base + "#part");
}

// ---- cancellation and a vanished owner -------------------------------------------------------

TEST(DownloadWorker, CancelDuringTransferStopsAtNextCallbackAndDeletes) {
  Fixture f;
  Answer a = Ok(Bytes(1000, 'a'));
  f.script->answers.push_back(a);
  TDownloadThread* worker = nullptr;
  f.onStart = [&](TDownloadThread* w) { worker = w; };
  // The owner cancels while the third chunk arrives.
  f.script->onChunk = [&](int64_t received) {
    if (received == 300) worker->Cancel();
  };
  Outcome r = f.Go(0);
  EXPECT_FALSE(r.success);
  EXPECT_EQ(r.message, "Download cancelled.");
  EXPECT_EQ(r.kind, "");
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.bytesOnDisk, 0);
  EXPECT_FALSE(f.Exists());
  EXPECT_EQ(r.progress.back().read, 200);
  EXPECT_EQ(r.log.back(), "DL: cancelled by user after 200 bytes, partial file deleted");
}

TEST(DownloadWorker, CancelBeforeAnyCallbackOrDuringAFailingRequest) {
  {
    SCOPED_TRACE("cancelled before the first callback: the request returns at once");
    Fixture f;
    f.disk->files[kDest] = Bytes(1000, 'A');
    f.script->answers.push_back(Ok(Bytes(500, 'r'), 206, "Partial Content"));
    f.onStart = [](TDownloadThread* w) { w->Cancel(); };
    Outcome r = f.Go(1000);
    EXPECT_EQ(r.message, "Download cancelled.");
    EXPECT_EQ(r.status, 206);
    EXPECT_TRUE(r.progress.empty());
    EXPECT_FALSE(f.Exists());
    EXPECT_EQ(r.log.back(), "DL: cancelled by user after 0 bytes, partial file deleted");
  }
  {
    SCOPED_TRACE("cancelled while the request fails: still a cancellation");
    Fixture f;
    f.disk->files[kDest] = Bytes(1000, 'A');
    Answer a;
    a.sendError = TDownloadError(kNetClientError, "Error sending data: (12002) The operation timed out");
    f.script->answers.push_back(a);
    f.onStart = [](TDownloadThread* w) { w->Cancel(); };
    Outcome r = f.Go(1000);
    EXPECT_EQ(r.message, "Download cancelled.");
    EXPECT_EQ(r.kind, "");
    EXPECT_EQ(r.bytesOnDisk, 0);
    EXPECT_FALSE(f.Exists());
    EXPECT_EQ(r.log.back(), "DL: exception ENetHTTPClientException: Error sending data: (12002) The operation "
                            "timed out (cancelled=True, 0 bytes read)");
  }
}

TEST(DownloadWorker, OwnerGoneStopsTransferCleansUpAndFreesItself) {
  Fixture f;
  f.script->answers.push_back(Ok(Bytes(1000, 'a')));
  f.uiCallsBeforeGone = 2;  // two progress reports reach the window, then it is gone
  Outcome r = f.Go(0);
  EXPECT_FALSE(r.completed);
  EXPECT_EQ(r.progress.size(), 2u);
  EXPECT_FALSE(f.Exists());
  EXPECT_TRUE(r.freed);
  EXPECT_EQ(r.log.at(r.log.size() - 2), "DL: owner no longer reachable, stopping the transfer");
  EXPECT_EQ(r.log.back(), "DL: cancelled by user after 200 bytes, partial file deleted");
}

TEST(DownloadWorker, OwnerGoneAtCompletionStillFreesAndKeepsOutcomeOnDisk) {
  Fixture f;
  const std::string body = Bytes(300, 'a');
  f.script->answers.push_back(Ok(body));
  f.uiCallsBeforeGone = 4;  // 0, 100, 200, 300 are reported; the completion finds no window
  Outcome r = f.Go(0);
  EXPECT_FALSE(r.completed);
  EXPECT_TRUE(r.freed);
  EXPECT_EQ(f.File(), body);
}

// ---- progress throttle -----------------------------------------------------------------------

TEST(DownloadWorker, ProgressThrottle) {
  struct Case {
    const char* name;
    int64_t length;  // -1: none announced
    std::vector<uint32_t> ticks;  // one per callback: 0, then after each of five 100-byte chunks
    std::vector<int64_t> reported;
  };
  const Case cases[] = {
      {"first, then 100 ms apart, completing always", 500, {1000, 1050, 1099, 1100, 1150, 1160},
       {0, 300, 500}},
      {"unsigned difference across the wrap", 500, {0xFFFFFFF0u, 0x50, 0x53, 0x60, 0x61, 0x62},
       {0, 300, 500}},
      {"system up for less than 100 ms", 500, {40, 60, 99, 100, 150, 210}, {300, 500}},
      {"no length: the last chunk may go unreported", -1, {1000, 1010, 1020, 1120, 1130, 1140}, {0, 300}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fixture f;
    Answer a = Ok(Bytes(500, 'a'));
    a.length = c.length;
    f.script->answers.push_back(a);
    auto ticks = std::make_shared<std::vector<uint32_t>>(c.ticks);
    auto i = std::make_shared<size_t>(0);
    f.ticks = [ticks, i]() { return (*ticks)[std::min((*i)++, ticks->size() - 1)]; };
    Outcome r = f.Go(0);
    EXPECT_TRUE(r.success);
    std::vector<int64_t> got;
    for (const auto& p : r.progress) got.push_back(p.read);
    EXPECT_EQ(got, c.reported);
  }
}
