#include "diag/log.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdio>
#include <regex>

#include "fileutil/tempdir.h"
#include "fileutil/unique.h"

namespace riz {
namespace {

using test::TempDir;

// Each test points the process-wide log at its own file and switches it off at the end,
// so that no other test writes into a directory that is gone.
struct LogFixture : ::testing::Test {
  TempDir dir;
  std::wstring path = dir / L"service.log";
  void SetUp() override { initLog(path, false); }
  void TearDown() override { initLog(L"", false); }
};

// Captures what is written to standard output (file descriptor 1) while it lives.
struct StdoutCapture {
  std::wstring file;
  int saved = -1;
  explicit StdoutCapture(const std::wstring& path) : file(path) {
    fflush(stdout);
    saved = _dup(1);
    int fd = _wopen(path.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, 0600);
    _dup2(fd, 1);
    _close(fd);
  }
  std::string finish() {
    fflush(stdout);
    _dup2(saved, 1);
    _close(saved);
    saved = -1;
    return test::readFile(file);
  }
  ~StdoutCapture() {
    if (saved >= 0) finish();
  }
};

std::string linePattern(const std::string& message) {
  return "\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}\\.\\d{3} \\[" +
         std::to_string(GetCurrentProcessId()) + "\\] " + message + "\r\n";
}

TEST_F(LogFixture, LineHasLocalTimePidMessageAndCrLf) {
  SYSTEMTIME before;
  GetLocalTime(&before);
  logLine("captured %s size=%llu err=%lu http=%d", "a.bef", 123ULL, 5UL, -1);
  const std::string text = test::readFile(path);
  EXPECT_TRUE(
      std::regex_match(text, std::regex(linePattern("captured a\\.bef size=123 err=5 http=-1"))))
      << text;
  char date[16];
  snprintf(date, sizeof date, "%04u-%02u-%02u ", unsigned{before.wYear}, unsigned{before.wMonth},
           unsigned{before.wDay});
  EXPECT_EQ(text.rfind(date, 0), 0u) << "local date first: " << text;

  logLine("second");
  const std::string two = test::readFile(path);
  EXPECT_EQ(std::count(two.begin(), two.end(), '\n'), 2);
}

TEST_F(LogFixture, LongMessageIsCutTo1023BytesThenCrLf) {
  const std::string message(2000, 'x');
  logLine("%s", message.c_str());
  const std::string text = test::readFile(path);
  ASSERT_GE(text.size(), 1025u);
  EXPECT_EQ(text.substr(text.size() - 1025), std::string(1023, 'x') + "\r\n");
  EXPECT_NE(text.find("] x"), std::string::npos);
  EXPECT_EQ(text.find("] " + std::string(1024, 'x')), std::string::npos);
}

TEST_F(LogFixture, ExactlyOneMiBIsNotRotatedButTheNextLineRotates) {
  ASSERT_TRUE(test::makeFileOfSize(path, kLogRotateBytes));
  logLine("at threshold");
  EXPECT_FALSE(test::exists(path + L".old"));
  const std::string grown = test::readFile(path);
  ASSERT_GT(grown.size(), kLogRotateBytes);
  EXPECT_EQ(grown.find_first_not_of('\0'), kLogRotateBytes);
  EXPECT_TRUE(
      std::regex_match(grown.substr(kLogRotateBytes), std::regex(linePattern("at threshold"))));

  logLine("next");
  EXPECT_TRUE(test::readFile(path + L".old") == grown);
  EXPECT_TRUE(std::regex_match(test::readFile(path), std::regex(linePattern("next"))));
}

TEST_F(LogFixture, OneByteOverTheThresholdMovesTheLogToOldReplacingIt) {
  ASSERT_TRUE(test::writeFile(path + L".old", "an older generation"));
  ASSERT_TRUE(test::makeFileOfSize(path, kLogRotateBytes + 1));
  logLine("first of the new file");
  const std::string old = test::readFile(path + L".old");
  EXPECT_EQ(old.size(), kLogRotateBytes + 1);
  EXPECT_EQ(old.find("an older generation"), std::string::npos);
  EXPECT_TRUE(
      std::regex_match(test::readFile(path), std::regex(linePattern("first of the new file"))));
}

TEST_F(LogFixture, FailedRotationStillAppendsAndIsRetried) {
  ASSERT_TRUE(test::makeFileOfSize(path, kLogRotateBytes + 1));
  {
    // An .old file held open without delete sharing cannot be replaced.
    ASSERT_TRUE(test::writeFile(path + L".old", "held"));
    UniqueHandle holder(CreateFileW((path + L".old").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                    nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder);
    logLine("appended to the big file");
    EXPECT_EQ(test::readFile(path + L".old"), "held");
    EXPECT_TRUE(test::readFile(path).ends_with(" appended to the big file\r\n"));
  }
  logLine("rotated now");
  EXPECT_TRUE(test::readFile(path + L".old").ends_with(" appended to the big file\r\n"));
  EXPECT_TRUE(std::regex_match(test::readFile(path), std::regex(linePattern("rotated now"))));
}

TEST_F(LogFixture, DeletedLogIsBegunAgain) {
  logLine("one");
  ASSERT_TRUE(DeleteFileW(path.c_str()));
  logLine("two");
  EXPECT_TRUE(std::regex_match(test::readFile(path), std::regex(linePattern("two"))));
}

TEST_F(LogFixture, EchoWritesTheSameBytesAsTheFile) {
  initLog(path, true);
  StdoutCapture capture(dir / L"stdout.bin");
  logLine("no client secret configured");
  logLine("Umlaut \xC3\xA4 stays UTF-8");
  const std::string echoed = capture.finish();
  EXPECT_EQ(echoed, test::readFile(path));
  EXPECT_EQ(echoed.find("\r\r\n"), std::string::npos);
}

TEST_F(LogFixture, UnopenableLogDropsTheLineButStillEchoes) {
  const std::wstring unopenable = dir / L"missing-dir\\service.log";
  initLog(unopenable, true);
  StdoutCapture capture(dir / L"stdout.bin");
  logLine("dropped but shown");
  const std::string echoed = capture.finish();
  EXPECT_TRUE(std::regex_match(echoed, std::regex(linePattern("dropped but shown")))) << echoed;
  EXPECT_FALSE(test::exists(unopenable));
}

TEST_F(LogFixture, EmptyPathWritesNothingAnywhere) {
  initLog(L"", true);
  StdoutCapture capture(dir / L"stdout.bin");
  logLine("nowhere");
  EXPECT_EQ(capture.finish(), "");
}

// The log is process-wide and other tests initialise it, so "before initLog" is seen in a
// process of its own: this test exe started again with RIZ_LOG_CHILD set logs one line
// before main (and before any test) and ends with the exit code 7.
constexpr DWORD kChildExitCode = 7;
const bool childMode = [] {
  if (GetEnvironmentVariableW(L"RIZ_LOG_CHILD", nullptr, 0) == 0) return false;
  logLine("before init %s", "x");
  fflush(stdout);
  ExitProcess(kChildExitCode);
}();

TEST(LogBeforeInit, WritesNothingAndDoesNotCrash) {
  TempDir dir;
  wchar_t exe[MAX_PATH];
  GetModuleFileNameW(nullptr, exe, MAX_PATH);
  std::wstring commandLine = L"\"" + std::wstring(exe) + L"\"";
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  UniqueHandle out(CreateFileW((dir / L"child.out").c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                               &inherit, CREATE_ALWAYS, 0, nullptr));
  ASSERT_TRUE(out);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = out.get();
  si.hStdError = out.get();
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(SetEnvironmentVariableW(L"RIZ_LOG_CHILD", L"1"));
  const BOOL started = CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0,
                                      nullptr, nullptr, &si, &pi);
  SetEnvironmentVariableW(L"RIZ_LOG_CHILD", nullptr);
  ASSERT_TRUE(started);
  UniqueHandle process(pi.hProcess);
  UniqueHandle thread(pi.hThread);
  ASSERT_EQ(WaitForSingleObject(process.get(), 60000), WAIT_OBJECT_0);
  DWORD code = 0;
  GetExitCodeProcess(process.get(), &code);
  out.reset();
  EXPECT_EQ(code, kChildExitCode);
  EXPECT_EQ(test::readFile(dir / L"child.out"), "");
  EXPECT_FALSE(childMode);
}

TEST(TimeConversions, FixedPoints) {
  EXPECT_EQ(isoTimestampUtc(0), "1970-01-01T00:00:00.000Z");
  EXPECT_EQ(isoTimestampUtc(1714550950123ULL), "2024-05-01T08:09:10.123Z");
  EXPECT_EQ(fileTimeToMs(FILETIME{0xD53E8000, 0x019DB1DE}), 0u);  // 116444736000000000
  const uint64_t ft = 116444736000000000ULL + 1714550950123ULL * 10000 + 9999;
  EXPECT_EQ(fileTimeToMs(FILETIME{static_cast<DWORD>(ft), static_cast<DWORD>(ft >> 32)}),
            1714550950123ULL)
      << "the division truncates";
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  const uint64_t a = fileTimeToMs(now);
  const uint64_t b = nowMs();
  EXPECT_LE(a, b);
  EXPECT_LT(b - a, 5000u);
}

}  // namespace
}  // namespace riz
