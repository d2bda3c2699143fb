#include "server/token.h"

#include <gtest/gtest.h>

#include <fstream>
#include <limits>
#include <sstream>
#include <string>

#include "diag/log.h"
#include "server/loopback.h"

namespace riz {
namespace {

using riztest::Canned;
using riztest::Loopback;
using riztest::Received;

TEST(FormUrlEncode, KeepsOnlyTheUnreservedBytes) {
  struct Case {
    const char* name;
    std::string in;
    std::string out;
  };
  const Case cases[] = {
      {"letters digits and - . _ ~", "AZaz09-._~", "AZaz09-._~"},
      {"space", " ", "%20"},
      {"plus", "+", "%2B"},
      {"slash", "/", "%2F"},
      {"equals", "=", "%3D"},
      {"ampersand", "&", "%26"},
      {"a-umlaut in UTF-8", "\xC3\xA4", "%C3%A4"},
      {"percent", "%", "%25"},
      {"NUL and top byte", std::string("\0\xff", 2), "%00%FF"},
      {"mixed", "s3cr et+/=", "s3cr%20et%2B%2F%3D"},
      {"empty", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(formUrlEncode(c.in), c.out);
  }
}

TEST(TokenExpiryMs, AddsTheLifetimeAndSaturates) {
  constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();
  constexpr int64_t kHuge = std::numeric_limits<int64_t>::max();
  const uint64_t now = 1'800'000'000'000ULL;
  EXPECT_EQ(tokenExpiryMs(now, 300), now + 300000);
  EXPECT_EQ(tokenExpiryMs(now, 1), now + 1000);
  EXPECT_EQ(tokenExpiryMs(now, 0), now);
  EXPECT_EQ(tokenExpiryMs(now, -20), now);
  EXPECT_EQ(tokenExpiryMs(now, std::numeric_limits<int64_t>::min()), now);
  EXPECT_EQ(tokenExpiryMs(now, kHuge), kMax);
  EXPECT_EQ(tokenExpiryMs(now, kHuge / 1000 + 1),
            now + (uint64_t(kHuge) / 1000 + 1) * 1000);  // past the signed range
  EXPECT_EQ(tokenExpiryMs(kMax - 5, 1), kMax);
  EXPECT_EQ(tokenExpiryMs(0, 18446744073709551LL), 18446744073709551000ULL);
  EXPECT_EQ(tokenExpiryMs(1000, 18446744073709551LL), kMax);
}

// A token endpoint that numbers its tokens and answers with the given lifetime text.
struct TokenEndpoint {
  explicit TokenEndpoint(std::string lifetimeText)
      : lifetime(std::move(lifetimeText)), server([this](const Received&) {
          std::string body = R"({"access_token":"t)" + std::to_string(++issued) + "\"";
          if (!lifetime.empty()) body += ",\"expires_in\":" + lifetime;
          return Canned{200, body + "}", ""};
        }) {}
  int issued = 0;
  std::string lifetime;
  Loopback server;  // last: its thread may use the members above as soon as it starts
};

TEST(GetAccessToken, ReusesATokenOnlyWhileMoreThanThirtySecondsAreLeft) {
  struct Case {
    const char* lifetime;  // "" leaves expires_in out
    bool reused;
  };
  const Case cases[] = {{"300", true}, {"", true},   {"31", true},  {"30", false},
                        {"20", false}, {"0", false}, {"-5", false}, {"99999999999999999999", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lifetime);
    TokenEndpoint endpoint(c.lifetime);
    TokenClient client(endpoint.server.url("/token"), "praxis", "s3cret");
    EXPECT_EQ(getAccessToken(client, false), "t1");
    EXPECT_EQ(getAccessToken(client, false), c.reused ? "t1" : "t2");
    EXPECT_EQ(endpoint.server.countTo("/token"), c.reused ? 1u : 2u);
  }
}

TEST(GetAccessToken, WithoutExpiresInTheTokenLivesSixtySeconds) {
  TokenEndpoint endpoint("");
  TokenClient client(endpoint.server.url("/token"), "praxis", "s3cret");
  const uint64_t before = nowMs();
  ASSERT_EQ(getAccessToken(client, false), "t1");
  EXPECT_GE(client.expiryMs, before + 60000);
  EXPECT_LE(client.expiryMs, nowMs() + 60000);
}

TEST(GetAccessToken, ForceRefreshAlwaysRequests) {
  TokenEndpoint endpoint("300");
  TokenClient client(endpoint.server.url("/token"), "praxis", "s3cret");
  EXPECT_EQ(getAccessToken(client, false), "t1");
  EXPECT_EQ(getAccessToken(client, true), "t2");
  EXPECT_EQ(getAccessToken(client, false), "t2");
  EXPECT_EQ(endpoint.server.countTo("/token"), 2u);
  const auto requests = endpoint.server.requests();
  EXPECT_EQ(requests[0].body,
            "grant_type=client_credentials&client_id=praxis&client_secret=s3cret");
}

TEST(GetAccessToken, AFailedRequestLogsAndDropsTheCachedToken) {
  char dir[MAX_PATH];
  GetTempPathA(MAX_PATH, dir);
  const std::string logPath =
      std::string(dir) + "riz-token-test-" + std::to_string(GetCurrentProcessId()) + ".log";
  DeleteFileA(logPath.c_str());
  initLog(std::wstring(logPath.begin(), logPath.end()), false);

  int status = 200;
  Loopback server([&](const Received&) {
    return status == 200 ? Canned{200, R"({"access_token":"good","expires_in":300})", ""}
                         : Canned{status, R"({"error":"invalid_client"})", ""};
  });
  TokenClient client(server.url("/token"), "praxis", "s3cret");
  ASSERT_EQ(getAccessToken(client, false), "good");
  status = 401;
  EXPECT_EQ(getAccessToken(client, true), "");
  EXPECT_EQ(client.accessToken, "");
  EXPECT_EQ(getAccessToken(client, false), "");  // nothing cached: asks again
  EXPECT_EQ(server.countTo("/token"), 3u);

  TokenClient unreachable(L"http://127.0.0.1:" + std::to_wstring(riztest::unusedPort()) + L"/token",
                          "p", "s");
  EXPECT_EQ(getAccessToken(unreachable, false), "");

  std::ifstream in(logPath, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  in.close();
  initLog(L"", false);
  DeleteFileA(logPath.c_str());
  EXPECT_NE(text.str().find("token request failed: http=401 winerr=0\r\n"), std::string::npos)
      << text.str();
  EXPECT_NE(text.str().find("token request failed: http=0 winerr=12029\r\n"), std::string::npos)
      << text.str();
}

TEST(GetAccessToken, AnAnswerWithoutATokenIsNoTokenAndAsksAgain) {
  Loopback server([](const Received&) { return Canned{200, R"({"expires_in":300})", ""}; });
  TokenClient client(server.url("/token"), "praxis", "s3cret");
  EXPECT_EQ(getAccessToken(client, false), "");
  EXPECT_EQ(getAccessToken(client, false), "");
  EXPECT_EQ(server.countTo("/token"), 2u);
}

TEST(VerifyClientSecret, MapsTheAnswerToZeroTwoOrThree) {
  struct Case {
    int status;
    const char* body;
    int expected;
  };
  const Case cases[] = {
      {200, R"({"access_token":"x"})", 0},
      {200, R"({"access_token":""})", 3},
      {200, "{}", 3},
      {400, "{}", 2},
      {401, "{}", 2},
      {403, "{}", 2},
      {499, "{}", 2},
      {302, "{}", 3},
      {500, "{}", 3},
      {204, "", 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.status);
    Loopback server([&](const Received&) { return Canned{c.status, c.body, ""}; });
    EXPECT_EQ(verifyClientSecret(server.url("/token"), "id", "secret"), c.expected);
    EXPECT_EQ(server.countTo("/token"), 1u);
  }
  EXPECT_EQ(verifyClientSecret(
                L"http://127.0.0.1:" + std::to_wstring(riztest::unusedPort()) + L"/t", "i", "s"),
            3);
}

}  // namespace
}  // namespace riz
