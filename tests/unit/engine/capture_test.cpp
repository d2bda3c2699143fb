#include "engine/capture.h"

#include <gtest/gtest.h>

#include "engine_fixture.h"

namespace riz {
namespace {

using enginetest::EngineDirTest;

TEST(FormatSpoolPrefix, CaptureTimeLastWriteTimeAndCounter) {
  EXPECT_EQ(formatSpoolPrefix(1700000000123, 1699999999000, 2345),
            L"1700000000123_1699999999000_2345_");
  EXPECT_EQ(formatSpoolPrefix(0, 5, 0), L"0000000000000_0000000000005_0000_");
  EXPECT_EQ(formatSpoolPrefix(UINT64_MAX, 12345678901234, 9999),
            L"18446744073709551615_12345678901234_9999_");
}

class CaptureTest : public EngineDirTest {};

TEST_F(CaptureTest, CapturedFileIsSpooledRecordedAndLogged) {
  const std::wstring path = importPath(L"Befund.pdf");
  writeImport(path, "0123456789", 1699999999000);
  captureCounter = 12345;
  Candidate entry{10, 1699999999000, 1699999990000};

  ASSERT_EQ(captureCandidate(L"Befund.pdf", path, entry, 1700000000123), CaptureOutcome::Captured);

  EXPECT_EQ(captureCounter, 12346u);
  ASSERT_EQ(spoolNames(),
            std::vector<std::wstring>{L"1700000000123_1699999999000_2345_Befund.pdf"});
  EXPECT_EQ(test::readFile(settings.spoolDir + L"\\1700000000123_1699999999000_2345_Befund.pdf"),
            "0123456789");
  const std::string sha = sha256Hex("0123456789");
  const std::string head = "Befund.pdf\t10\t1699999999000\t" + sha + "\t";
  EXPECT_EQ(ledgerText().substr(0, head.size()), head);
  EXPECT_EQ(capturedSha256[L"Befund.pdf|10|1699999999000"], sha);
  EXPECT_NE(logText().find("captured Befund.pdf size=10 sha256=" + sha + "\r\n"),
            std::string::npos);
  EXPECT_TRUE(test::exists(path)) << "the source stays where it is";
}

TEST_F(CaptureTest, FileThatChangedSinceTheObservationIsRetriedWithTheNewObservation) {
  const std::wstring path = importPath(L"grown.bef");
  writeImport(path, "now twenty bytes lng", 1699999999500);
  struct Case {
    const char* name;
    Candidate entry;
  } cases[] = {
      {"grew", {12, 1699999999500, 1000}},
      {"rewritten at the same size", {20, 1699999999000, 1000}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Candidate entry = c.entry;
    EXPECT_EQ(captureCandidate(L"grown.bef", path, entry, 5000), CaptureOutcome::Retry);
    EXPECT_EQ(entry.size, 20u);
    EXPECT_EQ(entry.lastWriteMs, 1699999999500u);
    EXPECT_EQ(entry.unchangedSinceMs, 5000u);
  }
  EXPECT_TRUE(spoolNames().empty());
  EXPECT_EQ(captureCounter, 0u) << "no spool write was attempted";
  EXPECT_EQ(ledgerText(), "<missing>");
  EXPECT_EQ(logText().find("captured"), std::string::npos);
}

TEST_F(CaptureTest, VanishedAndBusyFiles) {
  Candidate gone{5, 1000, 1};
  EXPECT_EQ(captureCandidate(L"gone.bef", importPath(L"gone.bef"), gone, 9000),
            CaptureOutcome::Vanished);

  const std::wstring path = importPath(L"busy.bef");
  writeImport(path, "busy", 1699999999000);
  // A writer that shares everything still keeps the capture out: the capture's share mode
  // does not let writers in.
  UniqueHandle writer(CreateFileW(path.c_str(), GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(writer);
  Candidate entry{4, 1699999999000, 1};
  EXPECT_EQ(captureCandidate(L"busy.bef", path, entry, 9000), CaptureOutcome::Retry);
  EXPECT_EQ(entry.size, 4u);
  EXPECT_EQ(entry.lastWriteMs, 1699999999000u);
  EXPECT_EQ(entry.unchangedSinceMs, 9000u) << "another stableMs of quiet before the next try";
  writer.reset();
  EXPECT_EQ(captureCandidate(L"busy.bef", path, entry, 10000), CaptureOutcome::Captured);
  EXPECT_EQ(captureCounter, 1u);
}

TEST_F(CaptureTest, FailedSpoolWriteIsLoggedRetriedAndStillAdvancesTheCounter) {
  const std::wstring path = importPath(L"a.bef");
  writeImport(path, "abc", 1699999999000);
  // A stray temporary file of the spool name makes the CREATE_NEW of the spool write fail.
  ASSERT_TRUE(
      test::writeFile(settings.spoolDir + L"\\1700000000000_1699999999000_0007_a.bef.tmp", "x"));
  captureCounter = 7;
  Candidate entry{3, 1699999999000, 1};
  EXPECT_EQ(captureCandidate(L"a.bef", path, entry, 1700000000000), CaptureOutcome::Retry);
  EXPECT_EQ(entry.unchangedSinceMs, 1700000000000u);
  EXPECT_EQ(captureCounter, 8u);
  EXPECT_NE(logText().find("spool write failed for a.bef err=80\r\n"), std::string::npos)
      << logText();
  EXPECT_EQ(ledgerText(), "<missing>");
  EXPECT_TRUE(capturedKeys.empty());

  // The next attempt has the next counter value, so its name is free.
  EXPECT_EQ(captureCandidate(L"a.bef", path, entry, 1700000000000), CaptureOutcome::Captured);
  EXPECT_TRUE(test::exists(settings.spoolDir + L"\\1700000000000_1699999999000_0008_a.bef"));
}

}  // namespace
}  // namespace riz
