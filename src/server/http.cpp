#include "server/http.h"

#include <winhttp.h>

#include <vector>

#include "config/text.h"
#include "fileutil/unique.h"

namespace riz {
namespace {

struct InternetTraits {
  using Handle = HINTERNET;
  static Handle invalid() noexcept { return nullptr; }
  static bool isValid(Handle h) noexcept { return h != nullptr; }
  static void close(Handle h) noexcept { WinHttpCloseHandle(h); }
};
using UniqueInternet = Unique<InternetTraits>;

constexpr wchar_t kUserAgent[] = L"Talvenor/0.1";
constexpr DWORD kHostChars = 256;
constexpr DWORD kPathChars = 2048;
constexpr DWORD kTls12And13 = 0x800 | 0x2000;  // WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2 | _TLS1_3
constexpr DWORD kTls12 = 0x800;
constexpr DWORD kOptionSecureProtocols = 84;  // WINHTTP_OPTION_SECURE_PROTOCOLS

// The user's named proxy, when one is configured; otherwise the automatic, then the default
// access type. The strings of the IE configuration are the caller's to free in every case.
HINTERNET openSession() {
  HINTERNET session = nullptr;
  WINHTTP_CURRENT_USER_IE_PROXY_CONFIG ie{};
  if (WinHttpGetIEProxyConfigForCurrentUser(&ie) && ie.lpszProxy != nullptr) {
    session = WinHttpOpen(
        kUserAgent, WINHTTP_ACCESS_TYPE_NAMED_PROXY, ie.lpszProxy,
        ie.lpszProxyBypass != nullptr ? ie.lpszProxyBypass : WINHTTP_NO_PROXY_BYPASS, 0);
  }
  if (ie.lpszProxy != nullptr) GlobalFree(ie.lpszProxy);
  if (ie.lpszProxyBypass != nullptr) GlobalFree(ie.lpszProxyBypass);
  if (ie.lpszAutoConfigUrl != nullptr) GlobalFree(ie.lpszAutoConfigUrl);
  if (session == nullptr) {
    session = WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME,
                          WINHTTP_NO_PROXY_BYPASS, 0);
  }
  if (session == nullptr) {
    session = WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                          WINHTTP_NO_PROXY_BYPASS, 0);
  }
  return session;
}

// A redirect would resend the body (credentials, findings) to wherever the Location points,
// and hide the server's real answer; the caller gets the 3xx instead. Both switches are set
// because WinHTTP implementations differ in which of the two they honour.
void disableRedirects(HINTERNET request) {
  DWORD policy = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
  WinHttpSetOption(request, WINHTTP_OPTION_REDIRECT_POLICY, &policy, sizeof(policy));
  DWORD feature = WINHTTP_DISABLE_REDIRECTS;
  WinHttpSetOption(request, WINHTTP_OPTION_DISABLE_FEATURE, &feature, sizeof(feature));
}

}  // namespace

HttpResponse httpPost(const std::wstring& url, std::string_view contentType, std::string_view body,
                      std::string_view bearerToken) {
  HttpResponse response;

  wchar_t host[kHostChars] = {};
  wchar_t path[kPathChars] = {};
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof(parts);
  parts.lpszHostName = host;
  parts.dwHostNameLength = kHostChars;
  parts.lpszUrlPath = path;
  parts.dwUrlPathLength = kPathChars;
  if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) {
    response.win32Error = GetLastError();
    return response;
  }
  // A body longer than a DWORD can describe cannot be sent in one request.
  if (body.size() > MAXDWORD) {
    response.win32Error = ERROR_INVALID_PARAMETER;
    return response;
  }

  UniqueInternet session(openSession());
  if (!session) {
    response.win32Error = GetLastError();
    return response;
  }
  DWORD protocols = kTls12And13;
  if (!WinHttpSetOption(session.get(), kOptionSecureProtocols, &protocols, sizeof(protocols))) {
    protocols = kTls12;
    WinHttpSetOption(session.get(), kOptionSecureProtocols, &protocols, sizeof(protocols));
  }
  WinHttpSetTimeouts(session.get(), 10000, 10000, 60000, 60000);

  UniqueInternet connection(WinHttpConnect(session.get(), host, parts.nPort, 0));
  if (!connection) {
    response.win32Error = GetLastError();
    return response;
  }
  const DWORD flags = parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0;
  UniqueInternet request(WinHttpOpenRequest(connection.get(), L"POST", path, nullptr,
                                            WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                            flags));
  if (!request) {
    response.win32Error = GetLastError();
    return response;
  }
  disableRedirects(request.get());

  std::wstring headers =
      L"Content-Type: " + fromUtf8(contentType) + L"\r\nAccept: application/json\r\n";
  if (!bearerToken.empty()) headers += L"Authorization: Bearer " + fromUtf8(bearerToken) + L"\r\n";

  const DWORD length = static_cast<DWORD>(body.size());
  BOOL ok = WinHttpSendRequest(request.get(), headers.c_str(), static_cast<DWORD>(-1),
                               const_cast<char*>(body.data()), length, length, 0);
  if (ok) ok = WinHttpReceiveResponse(request.get(), nullptr);
  if (!ok) {
    response.win32Error = GetLastError();
    return response;
  }

  DWORD status = 0;
  DWORD statusSize = sizeof(status);
  WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                      WINHTTP_HEADER_NAME_BY_INDEX, &status, &statusSize, WINHTTP_NO_HEADER_INDEX);
  response.status = static_cast<int32_t>(status);

  std::vector<char> chunk;
  for (;;) {
    DWORD available = 0;
    if (!WinHttpQueryDataAvailable(request.get(), &available) || available == 0) break;
    if (response.body.size() > kResponseBodyCap) break;
    chunk.resize(available);
    DWORD read = 0;
    if (!WinHttpReadData(request.get(), chunk.data(), available, &read) || read == 0) break;
    response.body.append(chunk.data(), read);
  }
  return response;
}

}  // namespace riz
