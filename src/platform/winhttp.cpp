#include "platform/winhttp.h"

#include "platform/win32.h"

namespace qv::win {
namespace {

const char* KnownErrorText(DWORD code) {
  switch (code) {
    case ERROR_WINHTTP_TIMEOUT: return "The operation timed out";
    case ERROR_WINHTTP_INTERNAL_ERROR: return "An internal error occurred in the Microsoft Windows HTTP Services";
    case ERROR_WINHTTP_INVALID_URL: return "The URL is invalid";
    case ERROR_WINHTTP_UNRECOGNIZED_SCHEME: return "The URL does not use a recognized protocol";
    case ERROR_WINHTTP_NAME_NOT_RESOLVED: return "The server name or address could not be resolved";
    case ERROR_WINHTTP_OPERATION_CANCELLED: return "The operation has been canceled";
    case ERROR_WINHTTP_CANNOT_CONNECT: return "A connection with the server could not be established";
    case ERROR_WINHTTP_CONNECTION_ERROR: return "The connection with the server was terminated abnormally";
    case ERROR_WINHTTP_INVALID_SERVER_RESPONSE: return "The server returned an invalid or unrecognized response";
    case ERROR_WINHTTP_REDIRECT_FAILED: return "The HTTP redirect request failed";
    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR: return "An error occurred in the secure channel support";
    case ERROR_WINHTTP_SECURE_FAILURE: return "A security error occurred";
    case ERROR_WINHTTP_SECURE_INVALID_CA: return "The certificate authority is invalid or incorrect";
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID: return "The date in the certificate is invalid or has expired";
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID: return "The host name in the certificate is invalid or does not match";
    case ERROR_WINHTTP_SECURE_INVALID_CERT: return "The certificate is invalid";
    case ERROR_WINHTTP_SECURE_CERT_REVOKED: return "The certificate has been revoked";
    case 10054: return "An existing connection was forcibly closed by the remote host";
    case 10060:
      return "A connection attempt failed because the connected party did not properly respond after a "
             "period of time, or established connection failed because connected host has failed to respond";
    case 10061: return "No connection could be made because the target machine actively refused it";
    default: return "Unknown error";
  }
}

}  // namespace

std::string WinHttpErrorText(DWORD code) {
  std::string text = SystemErrorText(code, GetModuleHandleW(L"winhttp.dll"));
  return text.empty() ? KnownErrorText(code) : text;
}

bool IsCertificateError(DWORD code) {
  switch (code) {
    case ERROR_WINHTTP_SECURE_FAILURE:
    case ERROR_WINHTTP_SECURE_INVALID_CA:
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
    case ERROR_WINHTTP_SECURE_INVALID_CERT:
    case ERROR_WINHTTP_SECURE_CERT_REVOKED:
    case ERROR_WINHTTP_SECURE_CERT_REV_FAILED:
    case ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE:
      return true;
    default:
      return false;
  }
}

}  // namespace qv::win
