// One synchronous HTTP POST exchange over WinHTTP.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace riz {

struct HttpResponse {
  int32_t status = 0;    // HTTP status; 0 when no answer arrived
  std::string body;      // raw body as received (capped near 1 MiB)
  DWORD win32Error = 0;  // error of the step that failed before an answer; 0 otherwise
};

constexpr size_t kResponseBodyCap = 1048576;

// POSTs body to url with its own session, connection and request, which are all closed
// before it returns. bearerToken empty: no Authorization header. Redirects are not followed:
// a 3xx comes back as its status. A body too long for a 32-bit length is not sent: status 0,
// win32Error ERROR_INVALID_PARAMETER. Never logs.
HttpResponse httpPost(const std::wstring& url, std::string_view contentType, std::string_view body,
                      std::string_view bearerToken);

}  // namespace riz
