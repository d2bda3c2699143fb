// OAuth2 client-credentials token client with a cached token.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace riz {

// Holds the credentials and the cached token. Not copyable; wipes the secret when destroyed.
struct TokenClient {
  TokenClient(std::wstring tokenUrl, std::string clientId, std::string clientSecret);
  ~TokenClient();
  TokenClient(const TokenClient&) = delete;
  TokenClient& operator=(const TokenClient&) = delete;

  std::wstring tokenUrl;
  std::string clientId;
  std::string clientSecret;
  std::string accessToken;  // empty when none is cached
  uint64_t expiryMs = 0;    // when accessToken stops being valid
  CRITICAL_SECTION lock;
};

// A token with more than 30 s left, requesting one when due or when forceRefresh is set.
// Empty when none could be had (logged as "token request failed: ...").
std::string getAccessToken(TokenClient& client, bool forceRefresh);

// One token request with these credentials: 0 token issued, 2 status 400-499, 3 otherwise.
int verifyClientSecret(const std::wstring& tokenUrl, const std::string& clientId,
                       const std::string& clientSecret);

// The expiry of a token issued at now with this lifetime: now itself for a lifetime of 0 or
// less, saturating at the largest value instead of overflowing.
uint64_t tokenExpiryMs(uint64_t now, int64_t expiresInSeconds);

// Percent-encodes every byte except A-Z a-z 0-9 - . _ ~ (upper-case hex, space as %20).
std::string formUrlEncode(std::string_view bytes);

}  // namespace riz
