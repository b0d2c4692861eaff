// The least a WinHTTP client can do: one GET read into a large buffer and written to a file,
// with nothing else.  The download benchmark runs it beside the worker under the same Wine, as
// the ceiling that any WinHTTP-based download reaches there.
//
//   winhttp_fetch URL DEST [avail]   prints "bytes=N ms=M"
// With "avail" each read takes only what WinHttpQueryDataAvailable reports, as the worker does.
#include <windows.h>

#include <winhttp.h>

#include <cstdio>
#include <string>
#include <vector>

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 64;
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof parts;
  parts.dwHostNameLength = parts.dwUrlPathLength = static_cast<DWORD>(-1);
  if (!WinHttpCrackUrl(argv[1], 0, 0, &parts)) return 2;
  std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
  std::wstring path(parts.lpszUrlPath, parts.dwUrlPathLength);
  HINTERNET s = WinHttpOpen(L"bench", WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr, 0);
  HINTERNET c = WinHttpConnect(s, host.c_str(), parts.nPort, 0);
  HINTERNET r = WinHttpOpenRequest(c, L"GET", path.c_str(), nullptr, nullptr, nullptr,
                                   parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0);
  if (!WinHttpSendRequest(r, nullptr, 0, nullptr, 0, 0, 0) || !WinHttpReceiveResponse(r, nullptr)) return 3;
  HANDLE f = CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  std::vector<char> buf(256 * 1024);
  const DWORD t0 = GetTickCount();
  unsigned long long total = 0;
  for (;;) {
    DWORD n = 0, want = static_cast<DWORD>(buf.size());
    if (argc > 3) {
      DWORD avail = 0;
      if (!WinHttpQueryDataAvailable(r, &avail)) return 5;
      if (avail < want) want = avail;
      if (want == 0) break;
    }
    if (!WinHttpReadData(r, buf.data(), want, &n)) return 4;
    if (n == 0) break;
    DWORD w = 0;
    WriteFile(f, buf.data(), n, &w, nullptr);
    total += n;
  }
  CloseHandle(f);
  printf("bytes=%llu ms=%lu\n", total, GetTickCount() - t0);
  WinHttpCloseHandle(r);
  WinHttpCloseHandle(c);
  WinHttpCloseHandle(s);
  return 0;
}
