// JSON requests to the findings server with the bearer token and one retry after 401.
#pragma once
#include <string>
#include <string_view>

#include "server/http.h"
#include "server/token.h"

namespace riz {

// POSTs body as application/json with the current token; after a 401 fetches a fresh token
// and repeats once. No token: status 0, win32Error 5, nothing sent.
HttpResponse authorizedPost(TokenClient& client, const std::wstring& url, std::string_view body);

}  // namespace riz
