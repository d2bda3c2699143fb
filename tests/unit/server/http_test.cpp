#include "server/http.h"

#include <gtest/gtest.h>

#include <string>

#include "server/loopback.h"

namespace riz {
namespace {

using riztest::Canned;
using riztest::Loopback;
using riztest::Received;

TEST(HttpPost, SendsTheHeadersAndTheBodyExactly) {
  Loopback server([](const Received&) { return Canned{200, "{}", ""}; });
  const std::string body("a\0b\r\n\xff", 6);

  HttpResponse plain =
      httpPost(server.url("/token"), "application/x-www-form-urlencoded", body, "");
  HttpResponse bearer =
      httpPost(server.url("/api/outbox/list"), "application/json", "{}", "tok.en-1");

  EXPECT_EQ(plain.status, 200);
  EXPECT_EQ(bearer.status, 200);
  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].head.substr(0, requests[0].head.find("\r\n")), "POST /token HTTP/1.1");
  EXPECT_EQ(requests[0].body, body);
  EXPECT_NE(requests[0].head.find("\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                                  "Accept: application/json\r\n"),
            std::string::npos)
      << requests[0].head;
  EXPECT_EQ(requests[0].header("Authorization"), "");
  EXPECT_EQ(requests[0].header("User-Agent"), "Talvenor/0.1");
  EXPECT_NE(
      requests[1].head.find("\r\nContent-Type: application/json\r\nAccept: application/json\r\n"
                            "Authorization: Bearer tok.en-1\r\n"),
      std::string::npos)
      << requests[1].head;
}

TEST(HttpPost, ErrorStatusesComeBackWithTheirBody) {
  for (int status : {400, 401, 403, 404, 500, 503}) {
    SCOPED_TRACE(status);
    const std::string answer = "{\"error\":\"e" + std::to_string(status) + "\"}";
    Loopback server([&](const Received&) { return Canned{status, answer, ""}; });
    HttpResponse r = httpPost(server.url("/x"), "application/json", "{}", "t");
    EXPECT_EQ(r.status, status);
    EXPECT_EQ(r.body, answer);
    EXPECT_EQ(r.win32Error, 0u);
  }
}

TEST(HttpPost, RedirectsComeBackAsTheirStatusAndTheTargetGetsNothing) {
  for (int status : {301, 302, 303, 307, 308}) {
    SCOPED_TRACE(status);
    Loopback target([](const Received&) {
      return Canned{200, "{\"access_token\":\"stolen\"}", ""};
    });
    const std::wstring location = target.url("/elsewhere");
    const std::string header =
        "Location: " + std::string(location.begin(), location.end()) + "\r\n";
    Loopback server([&](const Received& r) {
      return r.path == "/elsewhere" ? Canned{200, "{}", ""} : Canned{status, "moved", header};
    });
    // Once to another server, once to another path of the same one.
    HttpResponse away =
        httpPost(server.url("/token"), "application/x-www-form-urlencoded", "secret=1", "");
    const std::string sameHost = "Location: /elsewhere\r\n";
    Loopback local([&](const Received& r) {
      return r.path == "/elsewhere" ? Canned{200, "{}", ""} : Canned{status, "moved", sameHost};
    });
    HttpResponse here = httpPost(local.url("/api/befund"), "application/json", "{}", "tok");

    EXPECT_EQ(away.status, status);
    EXPECT_EQ(away.body, "moved");
    EXPECT_EQ(away.win32Error, 0u);
    EXPECT_EQ(here.status, status);
    EXPECT_EQ(target.requests().size(), 0u);
    EXPECT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(local.requests().size(), 1u);
  }
}

TEST(HttpPost, ABodyOfThreeMebibytesIsCutAfterTheFirstChunkPastTheCap) {
  std::string big(3 * 1048576, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>('a' + i % 26);
  Loopback server([&](const Received&) { return Canned{200, big, ""}; });
  HttpResponse r = httpPost(server.url("/big"), "application/json", "{}", "");
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.win32Error, 0u);
  EXPECT_GT(r.body.size(), kResponseBodyCap);
  EXPECT_LT(r.body.size(), big.size());
  EXPECT_EQ(r.body, big.substr(0, r.body.size()));
}

TEST(HttpPost, FailuresBeforeAnAnswerGiveStatusZeroAndTheError) {
  struct Case {
    const char* name;
    std::wstring url;
  };
  const Case cases[] = {
      {"unsupported scheme", L"ftp://127.0.0.1/token"},
      {"no scheme", L"127.0.0.1/token"},
      {"empty", L""},
      {"nothing listening",
       L"http://127.0.0.1:" + std::to_wstring(riztest::unusedPort()) + L"/token"},
      {"https to nothing listening",
       L"https://127.0.0.1:" + std::to_wstring(riztest::unusedPort()) + L"/token"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HttpResponse r = httpPost(c.url, "application/json", "{}", "t");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.body, "");
    EXPECT_NE(r.win32Error, 0u);
  }
}

}  // namespace
}  // namespace riz
