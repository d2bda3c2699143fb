#include "server/authpost.h"

#include <gtest/gtest.h>

#include <string>

#include "server/loopback.h"

namespace riz {
namespace {

using riztest::Canned;
using riztest::Loopback;
using riztest::Received;

// A token endpoint at /token that numbers its tokens, and /api answering from a script.
struct Server {
  explicit Server(std::vector<int> apiStatuses, bool tokensWork = true)
      : statuses(std::move(apiStatuses)), loopback([this, tokensWork](const Received& r) {
          if (r.path == "/token") {
            if (!tokensWork || (failTokensAfter >= 0 && tokens >= failTokensAfter)) {
              return Canned{401, R"({"error":"invalid_client"})", ""};
            }
            return Canned{
                200, R"({"access_token":"t)" + std::to_string(++tokens) + R"(","expires_in":300})",
                ""};
          }
          const int status = api < statuses.size() ? statuses[api] : 200;
          ++api;
          return Canned{status, "answer" + std::to_string(api), ""};
        }) {}
  std::vector<int> statuses;
  int tokens = 0;
  int failTokensAfter = -1;
  size_t api = 0;
  Loopback loopback;
};

TEST(AuthorizedPost, AValidTokenSendsOneRequest) {
  Server s({200});
  TokenClient client(s.loopback.url("/token"), "praxis", "s3cret");
  ASSERT_EQ(getAccessToken(client, false), "t1");
  HttpResponse r = authorizedPost(client, s.loopback.url("/api"), R"({"a":1})");
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.body, "answer1");
  EXPECT_EQ(s.loopback.countTo("/token"), 1u);
  const auto requests = s.loopback.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1].header("Authorization"), "Bearer t1");
  EXPECT_EQ(requests[1].header("Content-Type"), "application/json");
  EXPECT_EQ(requests[1].body, R"({"a":1})");
}

TEST(AuthorizedPost, A401RefreshesOnceAndRepeatsOnce) {
  for (int second : {200, 401, 500}) {
    SCOPED_TRACE(second);
    Server s({401, second});
    TokenClient client(s.loopback.url("/token"), "praxis", "s3cret");
    ASSERT_EQ(getAccessToken(client, false), "t1");
    HttpResponse r = authorizedPost(client, s.loopback.url("/api"), "{\"x\":2}");
    EXPECT_EQ(r.status, second);
    EXPECT_EQ(r.body, "answer2");
    EXPECT_EQ(s.loopback.countTo("/token"), 2u);  // the first one and exactly one refresh
    EXPECT_EQ(s.loopback.countTo("/api"), 2u);
    const auto requests = s.loopback.requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[1].header("Authorization"), "Bearer t1");
    EXPECT_EQ(requests[3].header("Authorization"), "Bearer t2");
    EXPECT_EQ(requests[3].body, requests[1].body);
  }
}

TEST(AuthorizedPost, A401WhoseRefreshFailsComesBackAsIs) {
  Server s({401});
  TokenClient client(s.loopback.url("/token"), "praxis", "s3cret");
  ASSERT_EQ(getAccessToken(client, false), "t1");
  s.failTokensAfter = 1;
  HttpResponse r = authorizedPost(client, s.loopback.url("/api"), "{}");
  EXPECT_EQ(r.status, 401);
  EXPECT_EQ(r.body, "answer1");
  EXPECT_EQ(s.loopback.countTo("/api"), 1u);
  EXPECT_EQ(s.loopback.countTo("/token"), 2u);
}

TEST(AuthorizedPost, OtherStatusesComeBackWithoutRepetition) {
  for (int status : {403, 500, 400, 302}) {
    SCOPED_TRACE(status);
    Server s({status});
    TokenClient client(s.loopback.url("/token"), "praxis", "s3cret");
    HttpResponse r = authorizedPost(client, s.loopback.url("/api"), "{}");
    EXPECT_EQ(r.status, status);
    EXPECT_EQ(r.body, "answer1");
    EXPECT_EQ(s.loopback.countTo("/token"), 1u);
    EXPECT_EQ(s.loopback.countTo("/api"), 1u);
  }
}

TEST(AuthorizedPost, NoTokenSendsNothing) {
  Server s({200}, false);
  TokenClient client(s.loopback.url("/token"), "praxis", "wrong");
  HttpResponse r = authorizedPost(client, s.loopback.url("/api"), "{}");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.body, "");
  EXPECT_EQ(r.win32Error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(s.loopback.countTo("/api"), 0u);
}

TEST(AuthorizedPost, ATransportFailureIsNotRepeated) {
  Server s({});
  TokenClient client(s.loopback.url("/token"), "praxis", "s3cret");
  const std::wstring nowhere =
      L"http://127.0.0.1:" + std::to_wstring(riztest::unusedPort()) + L"/api";
  HttpResponse r = authorizedPost(client, nowhere, "{}");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.win32Error, 0u);
  EXPECT_EQ(s.loopback.countTo("/token"), 1u);
}

}  // namespace
}  // namespace riz
