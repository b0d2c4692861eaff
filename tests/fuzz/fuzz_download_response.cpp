// The download worker fed with the server's responses: status line (code and text),
// Content-Length, Location, body, through a scripted transport that hands them over as the
// Windows transport does.  Input, as text:
//
//   resume <bytes kept> [<partial file size>] [nodigest]     optional first line
//   HTTP/1.1 302 Found                                       one response: status line,
//   Location: /other                                         headers,
//   Content-Length: 0                                        an empty line,
//                                                            and the body up to the next
//   ====                                                     line of four '=' (or the end)
//
// Headers the transport would not send but a fault would cause: "X-Fault: send" (the request
// fails), "X-Fault: read" (reading fails after the body), "X-Fault: text" (the status text
// cannot be read); "X-Chunk: <n>" sets the size of each read.
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <future>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "download/uDownloader.h"
#include "fuzz_check.h"

using namespace qv;
using namespace qv::dl;
using qv::fuzz::Require;

namespace {

// ---- the scripted responses -----------------------------------------------------------------

struct Response {
  int status = 0;
  std::string text;
  int64_t length = -1;
  std::string location;
  std::string body;
  std::string fault;
  size_t chunk = 4096;
};

struct Script {
  int64_t resumeFrom = 0;
  size_t partialSize = 0;
  bool resumeDigest = true;
  std::deque<Response> responses;
};

std::string_view NextLine(std::string_view& rest) {
  const size_t nl = rest.find('\n');
  std::string_view line = rest.substr(0, nl);
  rest.remove_prefix(nl == std::string_view::npos ? rest.size() : nl + 1);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

// Digits as an unsigned 32-bit number that wraps, as a DWORD status does.
uint32_t Number32(std::string_view s) {
  uint32_t v = 0;
  for (const char c : s) {
    if (c < '0' || c > '9') break;
    v = v * 10 + static_cast<uint32_t>(c - '0');
  }
  return v;
}

// The Windows transport's rule: the header value read by std::stoll; unreadable or negative
// is "no length".
int64_t ContentLengthOf(const std::string& value) {
  int64_t n = -1;
  try {
    n = std::stoll(value);
  } catch (...) {
    n = -1;
  }
  return n < 0 ? -1 : n;
}

Response ParseResponse(std::string_view block) {
  Response r;
  const std::string_view statusLine = NextLine(block);
  // "HTTP/1.1 <code> <text>": the code and, after one space, the text.
  const size_t sp = statusLine.find(' ');
  const std::string_view afterVersion = sp == std::string_view::npos ? std::string_view() : statusLine.substr(sp + 1);
  r.status = static_cast<int>(Number32(afterVersion));
  const size_t sp2 = afterVersion.find(' ');
  if (sp2 != std::string_view::npos) r.text = std::string(afterVersion.substr(sp2 + 1));
  while (!block.empty()) {
    const std::string_view line = NextLine(block);
    if (line.empty()) break;
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    std::string name(line.substr(0, colon));
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
    std::string_view value = line.substr(colon + 1);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
    if (name == "content-length") r.length = ContentLengthOf(std::string(value));
    else if (name == "location") r.location = std::string(value);
    else if (name == "x-fault") r.fault = std::string(value);
    else if (name == "x-chunk") r.chunk = std::clamp<size_t>(Number32(value), 1, 1 << 16);
  }
  r.body = std::string(block);
  return r;
}

Script ParseScript(std::string_view input) {
  Script s;
  if (input.rfind("resume ", 0) == 0) {
    std::string_view line = NextLine(input);
    line.remove_prefix(7);
    // Kept bytes are bounded so that a run stays small; the worker's arithmetic is not.
    s.resumeFrom = Number32(line) % (1 << 16);
    const size_t sp = line.find(' ');
    s.partialSize = sp == std::string_view::npos ? static_cast<size_t>(s.resumeFrom)
                                                 : Number32(line.substr(sp + 1)) % (1 << 16);
    s.resumeDigest = line.find("nodigest") == std::string_view::npos;
  }
  while (!input.empty() && s.responses.size() < 10) {
    const size_t sep = input.find("\n====\n");
    s.responses.push_back(ParseResponse(input.substr(0, sep)));
    input.remove_prefix(sep == std::string_view::npos ? input.size() : sep + 6);
  }
  return s;
}

// ---- fakes of the system --------------------------------------------------------------------

// A digest that is simply the bytes so far: exact, and enough for inputs of this size.
class CopyDigest final : public IDigest {
 public:
  void Update(const char* data, size_t size) override { bytes_.append(data, size); }
  std::unique_ptr<IDigest> Clone() const override { return std::make_unique<CopyDigest>(*this); }
  std::string Value() const override { return bytes_; }

 private:
  std::string bytes_;
};

struct Disk {
  std::map<std::string, std::string> files;
  int open = 0;
  bool deletedWhileOpen = false;
};

class MemFile final : public IDownloadFile {
 public:
  MemFile(Disk& d, std::string p, size_t pos) : disk_(d), path_(std::move(p)), pos_(pos) { ++disk_.open; }
  ~MemFile() override { --disk_.open; }
  int64_t Size() override { return static_cast<int64_t>(disk_.files[path_].size()); }
  void Truncate(int64_t size) override {
    Require(size >= 0 && size <= (1 << 20), "the worker sets a file to a size it had");
    disk_.files[path_].resize(static_cast<size_t>(size));
    pos_ = static_cast<size_t>(size);
  }
  void Write(const char* data, size_t size) override {
    std::string& f = disk_.files[path_];
    if (f.size() < pos_ + size) f.resize(pos_ + size);
    f.replace(pos_, size, data, size);
    pos_ += size;
  }
  size_t ReadAt(int64_t offset, char* buffer, size_t size) override {
    const std::string& f = disk_.files[path_];
    if (offset < 0 || static_cast<size_t>(offset) >= f.size()) return 0;
    const size_t n = std::min(size, f.size() - static_cast<size_t>(offset));
    std::copy_n(f.data() + offset, n, buffer);
    return n;
  }
  bool IsPlain() override { return true; }

 private:
  Disk& disk_;
  std::string path_;
  size_t pos_;
};

class MemLocked final : public ILockedFile {
 public:
  explicit MemLocked(std::string bytes) : bytes_(std::move(bytes)) {}
  size_t Read(char* buffer, size_t size) override {
    const size_t n = std::min(size, bytes_.size() - at_);
    std::copy_n(bytes_.data() + at_, n, buffer);
    at_ += n;
    return n;
  }

 private:
  std::string bytes_;
  size_t at_ = 0;
};

class MemFileSystem final : public IFileSystem {
 public:
  explicit MemFileSystem(Disk& d) : disk_(d) {}
  bool Exists(const std::string& p) override { return disk_.files.count(p) > 0; }
  std::unique_ptr<IDownloadFile> OpenExisting(const std::string& p) override {
    if (!disk_.files.count(p)) throw TDownloadError(kFileOpenError, "Cannot open file");
    return std::make_unique<MemFile>(disk_, p, disk_.files[p].size());
  }
  std::unique_ptr<IDownloadFile> Create(const std::string& p) override {
    disk_.files[p].clear();
    return std::make_unique<MemFile>(disk_, p, 0);
  }
  std::unique_ptr<ILockedFile> OpenLocked(const std::string& p) override {
    if (!disk_.files.count(p)) throw TDownloadError(kFileOpenError, "Cannot open file");
    return std::make_unique<MemLocked>(disk_.files[p]);
  }
  void Delete(const std::string& p) noexcept override {
    if (disk_.open > 0) disk_.deletedWhileOpen = true;
    disk_.files.erase(p);
  }

 private:
  Disk& disk_;
};

class ScriptedExchange final : public IHttpExchange {
 public:
  explicit ScriptedExchange(Response r) : r_(std::move(r)) {}
  int StatusCode() override { return r_.status; }
  std::string StatusText() override {
    if (r_.fault == "text") throw TDownloadError(kNetHeaderError, "Error querying headers: (12150)");
    return r_.text;
  }
  int64_t ContentLength() override { return r_.length; }
  std::string Location() override { return r_.location; }
  size_t Read(char* buffer, size_t capacity) override {
    if (at_ >= r_.body.size()) {
      if (r_.fault == "read") throw TDownloadError(kNetResponseError, "Error reading data: (12030)");
      return 0;
    }
    const size_t n = std::min({capacity, r_.chunk, r_.body.size() - at_});
    std::copy_n(r_.body.data() + at_, n, buffer);
    at_ += n;
    return n;
  }

 private:
  Response r_;
  size_t at_ = 0;
};

class ScriptedTransport final : public IHttpTransport {
 public:
  ScriptedTransport(std::deque<Response>& r, std::vector<std::string>& urls) : responses_(r), urls_(urls) {}
  std::unique_ptr<IHttpExchange> Send(const std::string& url, const THeaders&) override {
    urls_.push_back(url);
    if (responses_.empty()) throw TDownloadError(kNetClientError, "Error sending data: (12029)");
    Response r = std::move(responses_.front());
    responses_.pop_front();
    if (r.fault == "send") throw TDownloadError(kNetClientError, "Error sending data: (12002)");
    return std::make_unique<ScriptedExchange>(std::move(r));
  }

 private:
  std::deque<Response>& responses_;
  std::vector<std::string>& urls_;
};

struct Outcome {
  int completions = 0;
  bool success = false;
  int status = 0;
  int64_t bytesOnDisk = -1;
  std::vector<std::pair<int64_t, int64_t>> progress;
};

bool IsHttps(const std::string& url) {
  static constexpr std::string_view kScheme = "https:";
  if (url.size() < kScheme.size()) return false;
  for (size_t i = 0; i < kScheme.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(url[i])) != kScheme[i]) return false;
  return true;
}

const std::string kUrl = "https://dl.example/files/quorvel.exe?v=1";
const std::string kDest = "/tmp/quorvel_setup.exe";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Script script = ParseScript(qv::fuzz::AsText(data, size));
  const std::deque<Response> sent = script.responses;

  Disk disk;
  std::unique_ptr<IDigest> resumeDigest;
  if (script.resumeFrom > 0) {
    std::string partial(script.partialSize, 'k');
    disk.files[kDest] = partial;
    if (script.resumeDigest) {
      resumeDigest = std::make_unique<CopyDigest>();
      resumeDigest->Update(partial.data(), std::min(partial.size(), static_cast<size_t>(script.resumeFrom)));
    }
  }

  std::vector<std::string> urls;
  Outcome out;
  // The worker frees its services when it frees itself; the token's deleter says so, and waiting
  // for that makes all it wrote visible here.
  auto freedSignal = std::make_shared<std::promise<void>>();
  std::future<void> freed = freedSignal->get_future();
  std::shared_ptr<int> token(new int(0), [freedSignal](int* p) {
    delete p;
    freedSignal->set_value();
  });
  TDownloadServices services;
  services.CreateHttp = [&script, &urls, token](const THttpSettings&) -> std::unique_ptr<IHttpTransport> {
    return std::make_unique<ScriptedTransport>(script.responses, urls);
  };
  services.Files = std::make_shared<MemFileSystem>(disk);
  services.TickCount = [tick = uint32_t{0}]() mutable { return tick += 1000; };
  services.RunOnUiThread = [](const std::function<void()>& fn) {
    fn();
    return true;
  };
  services.CreateDigest = [] { return std::make_unique<CopyDigest>(); };
  token.reset();

  TDownloadThread* worker =
      TDownloadThread::CreateWith(kUrl, kDest, script.resumeFrom, std::move(services), std::move(resumeDigest));
  worker->SetOnProgress([&out](TDownloadThread*, int64_t read, int64_t total) { out.progress.emplace_back(read, total); });
  worker->SetOnComplete([&out](TDownloadThread* w, bool ok, const std::string&) {
    ++out.completions;
    out.success = ok;
    out.status = w->HttpStatus();
    out.bytesOnDisk = w->BytesOnDisk();
  });
  worker->Start();
  Require(freed.wait_for(std::chrono::seconds(30)) == std::future_status::ready, "the worker frees itself");

  Require(out.completions == 1, "exactly one outcome");
  Require(disk.open == 0, "no file left open");
  Require(!disk.deletedWhileOpen, "no file deleted while open");
  Require(urls.size() <= 6, "at most five redirects are followed");
  for (size_t i = 1; i < urls.size(); ++i) {
    Require(!IsHttps(urls[i - 1]) || IsHttps(urls[i]), "never a step down from https to http");
  }
  int64_t last = -1;
  for (const auto& [read, total] : out.progress) {
    Require(read >= 0 && total >= 0, "progress counts are not negative");
    Require(read >= last, "progress never goes back");
    last = read;
  }
  const auto kept = disk.files.find(kDest);
  if (out.success) {
    Require(out.status >= 200 && out.status <= 299, "success only for a 2xx status");
    Require(kept != disk.files.end(), "a success leaves the file");
    // The file is the kept prefix (when resumed with 206) and the last response's body.
    const Response* final = urls.empty() || urls.size() > sent.size() ? nullptr : &sent[urls.size() - 1];
    Require(final != nullptr && kept->second.size() >= final->body.size() &&
                kept->second.compare(kept->second.size() - final->body.size(), std::string::npos, final->body) == 0,
            "the file ends with the final body");
  } else {
    Require(out.bytesOnDisk == 0 || (kept != disk.files.end() &&
                                     out.bytesOnDisk == static_cast<int64_t>(kept->second.size())),
            "the bytes handed back for resuming are the bytes on disk");
  }
  return 0;
}
