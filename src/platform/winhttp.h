// Shared pieces of the program's two WinHTTP clients (the download worker and the usage-event
// sender): handle ownership, error texts and the certificate-error test.
#pragma once

#include <windows.h>

#include <winhttp.h>

#include <string>
#include <utility>

#include "platform/win32.h"

namespace qv::win {

struct CloseInternetHandle {
  void operator()(HINTERNET h) const { WinHttpCloseHandle(h); }
};
using HInternet = Owned<HINTERNET, CloseInternetHandle>;

// The text of a WinHTTP or socket error: winhttp.dll's message table, then the system's, then
// the standard Windows wording for the codes a transfer meets (Wine's winhttp.dll has no
// message table, and few socket texts), else "Unknown error".
std::string WinHttpErrorText(DWORD code);

// Errors that mean the server's certificate was not accepted.
bool IsCertificateError(DWORD code);

}  // namespace qv::win
