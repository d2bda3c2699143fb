#include "upload/multipart.h"

#include <gtest/gtest.h>

#include <regex>

namespace riz {
namespace {

const std::string kB = "----norvessa0123456789abcdef";

TEST(BuildMultipartBody, TwoPartFormGivesTheTenLines) {
  std::vector<FormPart> parts = {{"filename", "report.pdf", false, {}},
                                 {"file", "hi", true, "report.pdf"}};
  MultipartBody out = buildMultipartBody(parts, kB);
  const std::string expected =
      "--" + kB +
      "\r\n"
      "Content-Disposition: form-data; name=\"filename\"\r\n"
      "\r\n"
      "report.pdf\r\n"
      "--" +
      kB +
      "\r\n"
      "Content-Disposition: form-data; name=\"file\"; filename=\"report.pdf\"\r\n"
      "Content-Type: application/octet-stream\r\n"
      "\r\n"
      "hi\r\n"
      "--" +
      kB + "--\r\n";
  EXPECT_EQ(out.body, expected);
  EXPECT_EQ(out.contentType, "multipart/form-data; boundary=" + kB);
}

TEST(BuildMultipartBody, EdgeFormsAreFramedUnchanged) {
  struct Case {
    const char* name;
    std::vector<FormPart> parts;
    std::string expected;
  };
  const std::string binary = std::string("a\0\r\n--", 6) + kB + "\xff";
  const Case cases[] = {
      {"no parts: the closing delimiter alone", {}, "--" + kB + "--\r\n"},
      {"empty file part",
       {{"file", "", true, "leer.pdf"}},
       "--" + kB +
           "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"leer.pdf\"\r\n"
           "Content-Type: application/octet-stream\r\n\r\n\r\n--" +
           kB + "--\r\n"},
      {"non-ASCII filename goes out as raw UTF-8",
       {{"file", "x", true, "Befund \xc3\xa4\xc3\xb6\xc3\xbc \"1\".pdf"}},
       "--" + kB +
           "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"Befund "
           "\xc3\xa4\xc3\xb6\xc3\xbc \"1\".pdf\"\r\n"
           "Content-Type: application/octet-stream\r\n\r\nx\r\n--" +
           kB + "--\r\n"},
      {"content with NUL, CR LF and the boundary is not scanned or escaped",
       {{"file", binary, true, "b.bin"}},
       "--" + kB +
           "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"b.bin\"\r\n"
           "Content-Type: application/octet-stream\r\n\r\n" +
           binary + "\r\n--" + kB + "--\r\n"},
      {"filename of a text part is ignored",
       {{"host", "PRAXIS-1", false, "ignored"}},
       "--" + kB + "\r\nContent-Disposition: form-data; name=\"host\"\r\n\r\nPRAXIS-1\r\n--" + kB +
           "--\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(buildMultipartBody(c.parts, kB).body, c.expected);
  }
}

TEST(MultipartBoundary, SixteenLowercaseHexDigitsOfTimeTimesGoldenRatioXorPid) {
  struct Case {
    uint64_t timeMs;
    uint32_t pid;
    const char* expected;
  };
  const Case cases[] = {
      {0, 0, "----norvessa0000000000000000"},
      {1, 0, "----norvessa000000009e3779b1"},
      {0, 0xffffffffu, "----norvessa00000000ffffffff"},
      {1700000000123ull, 4242, "----norvessaa01567b3886c7099"},
      {0xffffffffffffffffull, 1, "----norvessaffffffff61c8864e"},  // wraps around
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    EXPECT_EQ(multipartBoundary(c.timeMs, c.pid), c.expected);
  }
}

TEST(MultipartBoundary, CurrentBodyUsesOneFreshBoundaryThroughout) {
  MultipartBody out = buildMultipartBody({{"a", "1", false, {}}});
  std::smatch m;
  ASSERT_TRUE(std::regex_match(
      out.contentType, m, std::regex("multipart/form-data; boundary=(----norvessa[0-9a-f]{16})")));
  const std::string b = m[1];
  EXPECT_EQ(out.body, "--" + b + "\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\n1\r\n--" +
                          b + "--\r\n");
}

TEST(UploadFile, WithoutATokenNothingIsSentAndTheAnswerIsAccessDenied) {
  // Nothing listens on port 1, so no token can be had.
  TokenClient client(L"http://127.0.0.1:1/token", "praxis", "secret");
  HttpResponse r = uploadFile(client, L"http://127.0.0.1:1/api/befund", {{"a", "1", false, {}}});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.win32Error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_TRUE(r.body.empty());
}

}  // namespace
}  // namespace riz
