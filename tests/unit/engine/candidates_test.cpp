#include "engine/candidates.h"

#include <gtest/gtest.h>

#include "engine_fixture.h"

namespace riz {
namespace {

using enginetest::EngineDirTest;

// The candidate check's clock, moved by the test.
uint64_t fakeNow = 0;
uint64_t fakeClock() { return fakeNow; }

constexpr uint64_t kT = 1700000000000;

TEST(HasWatchedExtension, MatchesTheLastExtensionIgnoringCase) {
  const Settings saved = settings;
  settings.extensions = {L".bef", L".pdf"};
  struct Case {
    const wchar_t* name;
    bool watched;
  } cases[] = {
      {L"a.bef", true},       {L"A.BEF", true},      {L"report.Pdf", true}, {L".pdf", true},
      {L"a.pdf.part", false}, {L"a.bef.tmp", false}, {L"a.bef2", false},    {L"bef", false},
      {L"a.", false},         {L"", false},          {L"a.b.pdf", true},    {L"x.xml", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.name)));
    EXPECT_EQ(hasWatchedExtension(c.name), c.watched);
  }
  settings.extensions.clear();
  EXPECT_FALSE(hasWatchedExtension(L"a.bef")) << "an empty list matches nothing";
  settings = saved;
}

class CandidatesTest : public EngineDirTest {
 protected:
  // One candidate check at the given time; true when something was captured.
  static bool checkAt(uint64_t now) {
    fakeNow = now;
    return checkCandidates(fakeClock);
  }
};

TEST_F(CandidatesTest, TrackAddsWatchedNamesOnceAndKeepsTheirObservation) {
  trackCandidate(L"a.bef");
  trackCandidate(L"a.txt");
  trackCandidate(L"B.PDF");
  candidates[L"a.bef"] = Candidate{5, 6, 7};
  trackCandidate(L"a.bef");
  ASSERT_EQ(candidates.size(), 2u);
  EXPECT_EQ(candidates[L"a.bef"].unchangedSinceMs, 7u);
  EXPECT_EQ(candidates[L"B.PDF"].unchangedSinceMs, 0u);
}

TEST_F(CandidatesTest, FileIsCapturedOnceItHasBeenQuietForStableMs) {
  writeImport(importPath(L"a.bef"), "abc", kT - 5000);
  trackCandidate(L"a.bef");
  EXPECT_FALSE(checkAt(kT)) << "the first check only observes";
  EXPECT_EQ(candidates[L"a.bef"].unchangedSinceMs, kT);
  EXPECT_FALSE(checkAt(kT + 999));

  // A change restarts the quiet time.
  writeImport(importPath(L"a.bef"), "abcd", kT - 4000);
  EXPECT_FALSE(checkAt(kT + 1500));
  EXPECT_FALSE(checkAt(kT + 2499));
  EXPECT_TRUE(checkAt(kT + 2500));
  EXPECT_TRUE(candidates.empty());
  EXPECT_EQ(spoolNames(), std::vector<std::wstring>{L"1700000002500_1699999996000_0000_a.bef"});
  EXPECT_EQ(capturedKeys.count(L"a.bef|4|1699999996000"), 1u);
}

TEST_F(CandidatesTest, StableMsZeroCapturesAtTheSecondObservation) {
  settings.stableMs = 0;
  writeImport(importPath(L"a.bef"), "abc", kT - 5000);
  trackCandidate(L"a.bef");
  EXPECT_FALSE(checkAt(kT));
  EXPECT_TRUE(checkAt(kT));
}

TEST_F(CandidatesTest, EmptyFilesAndNegativeStableMsAreNeverCaptured) {
  writeImport(importPath(L"empty.bef"), "", kT - 5000);
  trackCandidate(L"empty.bef");
  EXPECT_FALSE(checkAt(kT));
  EXPECT_FALSE(checkAt(kT + 3600000));
  EXPECT_EQ(candidates.count(L"empty.bef"), 1u) << "an empty file stays a candidate";
  EXPECT_EQ(nextCandidateDueMs(), 0u) << "and sets no stability deadline";

  settings.stableMs = -1;
  writeImport(importPath(L"a.bef"), "abc", kT - 5000);
  trackCandidate(L"a.bef");
  EXPECT_FALSE(checkAt(kT));
  EXPECT_FALSE(checkAt(kT + 365ULL * 24 * 3600000));
  EXPECT_EQ(nextCandidateDueMs(), 0u);
  EXPECT_TRUE(spoolNames().empty());
}

TEST_F(CandidatesTest, ClockSetBackRestartsTheQuietTime) {
  writeImport(importPath(L"a.bef"), "abc", kT - 5000);
  trackCandidate(L"a.bef");
  EXPECT_FALSE(checkAt(kT));
  EXPECT_FALSE(checkAt(kT - 3600000)) << "an earlier clock is no quiet time";
  EXPECT_EQ(candidates[L"a.bef"].unchangedSinceMs, kT - 3600000);
  EXPECT_TRUE(checkAt(kT - 3600000 + 1000));
}

TEST_F(CandidatesTest, GoneAndAlreadyCapturedFilesLeaveTheTable) {
  trackCandidate(L"gone.bef");
  writeImport(importPath(L"known.bef"), "abc", kT - 5000);
  appendLedger(L"known.bef", 3, kT - 5000, std::string(64, '0'));
  trackCandidate(L"known.bef");
  EXPECT_FALSE(checkAt(kT));
  EXPECT_TRUE(candidates.empty());
}

TEST_F(CandidatesTest, FilesStableInOnePassAreCapturedInCodeUnitOrder) {
  for (const wchar_t* name : {L"\u00c4.bef", L"a.bef", L"B.bef"}) {
    writeImport(importPath(name), "x", kT - 5000);
    trackCandidate(name);
  }
  EXPECT_FALSE(checkAt(kT));
  EXPECT_EQ(nextCandidateDueMs(), kT + 1000);
  EXPECT_TRUE(checkAt(kT + 1000));
  EXPECT_EQ(spoolNames(),
            (std::vector<std::wstring>{L"1700000001000_1699999995000_0000_B.bef",
                                       L"1700000001000_1699999995000_0001_a.bef",
                                       L"1700000001000_1699999995000_0002_\u00c4.bef"}));
}

TEST_F(CandidatesTest, ScanNominatesNewWatchedFilesOnly) {
  writeImport(importPath(L"new.bef"), "abc", kT - 5000);
  writeImport(importPath(L"known.pdf"), "abc", kT - 5000);
  writeImport(importPath(L"other.txt"), "abc", kT - 5000);
  ASSERT_TRUE(CreateDirectoryW(importPath(L"dir.bef").c_str(), nullptr));
  appendLedger(L"known.pdf", 3, kT - 5000, std::string(64, '0'));
  scanImportDir();
  ASSERT_EQ(candidates.size(), 1u);
  EXPECT_EQ(candidates.begin()->first, L"new.bef");

  settings.importDir = importPath(L"missing");
  scanImportDir();  // a failed listing changes nothing
  EXPECT_EQ(candidates.size(), 1u);
}

TEST_F(CandidatesTest, SpoolFileExistsMatchesAnyCopyOfTheName) {
  ASSERT_TRUE(test::writeFile(settings.spoolDir + L"\\1_2_3_report.pdf", "x"));
  EXPECT_TRUE(spoolFileExists(settings.spoolDir, L"report.pdf"));
  EXPECT_FALSE(spoolFileExists(settings.spoolDir, L"other.pdf"));
  EXPECT_FALSE(spoolFileExists(settings.rejectedDir, L"report.pdf"));
  EXPECT_FALSE(spoolFileExists(settings.spoolDir + L"\\missing", L"report.pdf"));
}

// With deletePdf, a captured PDF still in the import directory is deleted by the scan once
// neither the spool nor the rejected directory holds a copy of it.
TEST_F(CandidatesTest, ScanRetriesTheDeletionOfUploadedPdfs) {
  settings.deletePdf = true;
  struct Case {
    const wchar_t* name;
    const wchar_t* copyDir;  // where a copy lies, or nullptr
    bool deleted;
  } cases[] = {
      {L"done.pdf", nullptr, true},
      {L"waiting.pdf", L"spool", false},
      {L"refused.pdf", L"rejected", false},
      {L"done.bef", nullptr, false},
  };
  for (const Case& c : cases) {
    writeImport(importPath(c.name), "content", kT - 5000);
    appendLedger(c.name, 7, kT - 5000, sha256Hex("content"));
    if (c.copyDir) {
      ASSERT_TRUE(
          test::writeFile(dir_ / (std::wstring(c.copyDir) + L"\\1_2_3_" + c.name), "content"));
    }
  }
  scanImportDir();
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.name)));
    EXPECT_EQ(test::exists(importPath(c.name)), !c.deleted);
  }
  EXPECT_TRUE(candidates.empty());

  settings.deletePdf = false;
  writeImport(importPath(L"kept.pdf"), "content", kT - 5000);
  appendLedger(L"kept.pdf", 7, kT - 5000, sha256Hex("content"));
  scanImportDir();
  EXPECT_TRUE(test::exists(importPath(L"kept.pdf")));
}

}  // namespace
}  // namespace riz
