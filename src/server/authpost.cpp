#include "server/authpost.h"

namespace riz {

HttpResponse authorizedPost(TokenClient& client, const std::wstring& url, std::string_view body) {
  std::string token = getAccessToken(client, false);
  if (token.empty()) {
    HttpResponse refused;
    refused.win32Error = ERROR_ACCESS_DENIED;
    return refused;
  }
  HttpResponse response = httpPost(url, "application/json", body, token);
  if (response.status == 401) {
    // The server no longer takes the cached token: one fresh token, one repetition, no more.
    token = getAccessToken(client, true);
    if (!token.empty()) response = httpPost(url, "application/json", body, token);
  }
  return response;
}

}  // namespace riz
