#include "server/token.h"

#include <limits>
#include <utility>

#include "diag/log.h"
#include "fileutil/fileutil.h"
#include "server/http.h"
#include "server/json.h"

namespace riz {
namespace {

constexpr uint64_t kRenewBeforeMs = 30000;  // a token this close to its expiry is not handed out
constexpr int64_t kDefaultLifetimeSeconds = 60;

std::string tokenRequestBody(std::string_view clientId, std::string_view clientSecret) {
  std::string body = "grant_type=client_credentials&client_id=";
  body += formUrlEncode(clientId);
  body += "&client_secret=";
  std::string encoded = formUrlEncode(clientSecret);
  body += encoded;
  wipeBytes(encoded);
  return body;
}

HttpResponse postTokenRequest(const std::wstring& tokenUrl, std::string_view clientId,
                              std::string_view clientSecret) {
  std::string body = tokenRequestBody(clientId, clientSecret);
  HttpResponse response = httpPost(tokenUrl, "application/x-www-form-urlencoded", body, {});
  wipeBytes(body);
  return response;
}

// Leaves the lock on every path out of getAccessToken.
struct LockGuard {
  explicit LockGuard(CRITICAL_SECTION& cs) : cs_(cs) { EnterCriticalSection(&cs_); }
  ~LockGuard() { LeaveCriticalSection(&cs_); }
  LockGuard(const LockGuard&) = delete;
  LockGuard& operator=(const LockGuard&) = delete;

 private:
  CRITICAL_SECTION& cs_;
};

}  // namespace

TokenClient::TokenClient(std::wstring url, std::string id, std::string secret)
    : tokenUrl(std::move(url)), clientId(std::move(id)), clientSecret(std::move(secret)) {
  InitializeCriticalSection(&lock);
}

TokenClient::~TokenClient() {
  wipeBytes(clientSecret);
  wipeBytes(accessToken);
  DeleteCriticalSection(&lock);
}

uint64_t tokenExpiryMs(uint64_t now, int64_t expiresInSeconds) {
  // A lifetime of nothing or less is due at once; an absurd one saturates instead of wrapping
  // round to a small value that would look expired (or, worse, to one that never expires).
  if (expiresInSeconds <= 0) return now;
  const uint64_t seconds = static_cast<uint64_t>(expiresInSeconds);
  constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();
  if (seconds > (kMax - now) / 1000) return kMax;
  return now + seconds * 1000;
}

std::string getAccessToken(TokenClient& client, bool forceRefresh) {
  LockGuard guard(client.lock);
  const bool due =
      forceRefresh || client.accessToken.empty() || nowMs() + kRenewBeforeMs >= client.expiryMs;
  if (due) {
    wipeBytes(client.accessToken);
    const HttpResponse response =
        postTokenRequest(client.tokenUrl, client.clientId, client.clientSecret);
    if (response.status == 200) {
      client.accessToken = jsonStringField(response.body, "access_token");
      const int64_t lifetime = jsonIntField(response.body, "expires_in", kDefaultLifetimeSeconds);
      client.expiryMs = tokenExpiryMs(nowMs(), lifetime);
    } else {
      logLine("token request failed: http=%d winerr=%lu", static_cast<int>(response.status),
              static_cast<unsigned long>(response.win32Error));
    }
  }
  return client.accessToken;
}

int verifyClientSecret(const std::wstring& tokenUrl, const std::string& clientId,
                       const std::string& clientSecret) {
  const HttpResponse response = postTokenRequest(tokenUrl, clientId, clientSecret);
  if (response.status == 200 && !jsonStringField(response.body, "access_token").empty()) return 0;
  if (response.status >= 400 && response.status <= 499) return 2;
  return 3;
}

std::string formUrlEncode(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 3);
  for (const char ch : bytes) {
    const unsigned char c = static_cast<unsigned char>(ch);
    const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                       c == '-' || c == '.' || c == '_' || c == '~';
    if (plain) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0x0F];
    }
  }
  return out;
}

}  // namespace riz
