#include <vector>

#include "core/format.h"
#include "core/strings.h"
#include "download/uDownloadIo.h"

namespace qv::dl {
namespace {

bool IsRedirect(int status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && AsciiLower(s.substr(0, prefix.size())) == AsciiLower(prefix);
}

// "scheme://authority" of an absolute URL, and the rest (path, query) of it.
void SplitUrl(const std::string& url, std::string& origin, std::string& rest) {
  const size_t scheme = url.find("://");
  const size_t from = scheme == std::string::npos ? 0 : scheme + 3;
  const size_t slash = url.find_first_of("/?#", from);
  origin = url.substr(0, slash);
  rest = slash == std::string::npos ? "/" : url.substr(slash);
  // An empty path ("https://host?q") is the root: a relative reference must never be appended
  // to the authority itself, which would name another host.
  if (rest[0] != '/') rest.insert(0, "/");
}

}  // namespace

std::string ResolveUrl(const std::string& base, const std::string& location) {
  const std::string loc = Trim(location);
  if (StartsWithNoCase(loc, "http://") || StartsWithNoCase(loc, "https://")) return loc;
  const size_t scheme = base.find("://");
  if (loc.rfind("//", 0) == 0) return base.substr(0, scheme == std::string::npos ? 0 : scheme + 1) + loc;
  std::string origin, rest;
  SplitUrl(base, origin, rest);
  if (loc.empty()) return base;
  if (loc[0] == '/') return origin + loc;
  if (loc[0] == '?') return origin + rest.substr(0, rest.find_first_of("?#")) + loc;
  // A fragment alone names the same resource.
  if (loc[0] == '#') return origin + rest.substr(0, rest.find('#')) + loc;
  // A relative path replaces the last segment of the base path.
  const std::string path = rest.substr(0, rest.find_first_of("?#"));
  return origin + path.substr(0, path.rfind('/') + 1) + loc;
}

std::unique_ptr<IHttpExchange> HttpGetToFile(IHttpTransport& transport, const THttpSettings& settings,
                                             const std::string& url, const THeaders& headers,
                                             IDownloadFile& file, const TReceiveCallback& onReceive) {
  const int64_t startSize = file.Size();
  std::string current = url;
  int redirects = 0;
  for (;;) {
    std::unique_ptr<IHttpExchange> exchange = transport.Send(current, headers);
    const int status = exchange->StatusCode();
    if (IsRedirect(status)) {
      const std::string location = exchange->Location();
      if (!location.empty()) {
        const std::string next = ResolveUrl(current, location);
        // Like the platform's client, never step down from a secure connection.
        const bool downgrade = StartsWithNoCase(current, "https:") && !StartsWithNoCase(next, "https:");
        if (!downgrade) {
          if (redirects >= settings.MaxRedirects) {
            throw TDownloadError(kNetRequestError, Format("Maximum number of redirections (%d) exceeded",
                                                          {settings.MaxRedirects}));
          }
          ++redirects;
          exchange.reset();
          file.Truncate(startSize);
          current = next;
          continue;
        }
      }
    }
    if (status >= 300) return exchange;

    const int64_t length = exchange->ContentLength();
    if (!onReceive(length, 0)) return exchange;
    std::vector<char> buffer(kReadBufferSize);
    int64_t received = 0;
    for (;;) {
      const size_t n = exchange->Read(buffer.data(), buffer.size());
      if (n == 0) break;
      file.Write(buffer.data(), n);
      received += static_cast<int64_t>(n);
      if (!onReceive(length, received)) break;
    }
    return exchange;
  }
}

}  // namespace qv::dl
