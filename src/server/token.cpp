// Placeholder until the token client lands.
#include "server/token.h"

#include <utility>

namespace riz {

TokenClient::TokenClient(std::wstring url, std::string id, std::string secret)
    : tokenUrl(std::move(url)), clientId(std::move(id)), clientSecret(std::move(secret)) {
  InitializeCriticalSection(&lock);
}
TokenClient::~TokenClient() { DeleteCriticalSection(&lock); }

std::string getAccessToken(TokenClient&, bool) { return {}; }
int verifyClientSecret(const std::wstring&, const std::string&, const std::string&) { return 3; }
std::string formUrlEncode(std::string_view) { return {}; }

}  // namespace riz
