#include "upload/drain.h"

#include <gtest/gtest.h>

#include "diag/log.h"
#include "host/stopsignal.h"
#include "upload_fixture.h"

namespace riz {
namespace {

using uploadtest::UploadDirTest;

TEST(ClassifyUploadStatus, StatusTable) {
  struct Case {
    int32_t status;
    UploadOutcome outcome;
  };
  const Case cases[] = {
      {200, UploadOutcome::Uploaded}, {201, UploadOutcome::Uploaded},
      {204, UploadOutcome::Uploaded}, {299, UploadOutcome::Uploaded},
      {400, UploadOutcome::Rejected}, {404, UploadOutcome::Rejected},
      {409, UploadOutcome::Rejected}, {413, UploadOutcome::Rejected},
      {422, UploadOutcome::Rejected}, {499, UploadOutcome::Rejected},
      {401, UploadOutcome::Deferred}, {403, UploadOutcome::Deferred},
      {408, UploadOutcome::Deferred}, {429, UploadOutcome::Deferred},
      {0, UploadOutcome::Deferred},   {100, UploadOutcome::Deferred},
      {199, UploadOutcome::Deferred}, {300, UploadOutcome::Deferred},
      {302, UploadOutcome::Deferred}, {399, UploadOutcome::Deferred},
      {500, UploadOutcome::Deferred}, {503, UploadOutcome::Deferred},
      {600, UploadOutcome::Deferred}, {-1, UploadOutcome::Deferred},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.status);
    EXPECT_EQ(classifyUploadStatus(c.status), c.outcome);
  }
}

TEST(ParseSpoolName, SplitsAtTheFirstThreeUnderscores) {
  struct Case {
    const wchar_t* name;
    bool ok;
    uint64_t captured;
    uint64_t mtime;
    const wchar_t* source;
  };
  const Case cases[] = {
      {L"1700000000123_1699999999000_0000_report.pdf", true, 1700000000123ull, 1699999999000ull,
       L"report.pdf"},
      {L"1_2_3_", true, 1, 2, L""},
      {L"0000000000001_0000000000002_0003_a_b_c.bef", true, 1, 2, L"a_b_c.bef"},
      {L"12x_y34_z_n", true, 12, 0, L"n"},  // digits up to the first other character
      {L"__ _x", true, 0, 0, L"x"},
      {L"1_2_report.pdf", false, 0, 0, L""},
      {L"report.pdf", false, 0, 0, L""},
      {L"", false, 0, 0, L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(std::wstring(c.name)));
    SpoolName out;
    ASSERT_EQ(parseSpoolName(c.name, out), c.ok);
    if (c.ok) {
      EXPECT_EQ(out.capturedMs, c.captured);
      EXPECT_EQ(out.mtimeMs, c.mtime);
      EXPECT_EQ(out.sourceName, c.source);
    }
  }
}

TEST(BuildUploadForm, EightPartsInOrderFromTheSpoolName) {
  Settings saved = settings;
  settings.hostName = "PRAXIS-\xc3\x84";
  SpoolName name;
  ASSERT_TRUE(parseSpoolName(L"1700000000123_1699999999000_0007_Bef\u00fcnd_1.pdf", name));
  std::vector<FormPart> parts = buildUploadForm(name, std::string("%PDF\0x", 6), "ab12");
  settings = saved;

  struct Want {
    const char* name;
    std::string value;
    bool isFile;
    const char* filename;
  };
  const Want want[] = {
      {"filename", "Bef\xc3\xbcnd_1.pdf", false, ""},
      {"sha256", "ab12", false, ""},
      {"captured_at", "2023-11-14T22:13:20.123Z", false, ""},
      {"file_mtime", "2023-11-14T22:13:19.000Z", false, ""},
      {"host", "PRAXIS-\xc3\x84", false, ""},
      {"win_user", "SYSTEM", false, ""},
      {"win_session", "0", false, ""},
      {"file", std::string("%PDF\0x", 6), true, "Bef\xc3\xbcnd_1.pdf"},
  };
  ASSERT_EQ(parts.size(), 8u);
  for (size_t i = 0; i < 8; ++i) {
    SCOPED_TRACE(want[i].name);
    EXPECT_EQ(parts[i].name, want[i].name);
    EXPECT_EQ(parts[i].value, want[i].value);
    EXPECT_EQ(parts[i].isFile, want[i].isFile);
    if (want[i].isFile) {
      EXPECT_EQ(parts[i].filename, want[i].filename);
    }
  }
}

TEST(BuildUploadForm, EmptySourceNameAndZeroTimes) {
  SpoolName name;
  ASSERT_TRUE(parseSpoolName(L"1_2_3_", name));
  std::vector<FormPart> parts = buildUploadForm(name, "", "x");
  ASSERT_EQ(parts.size(), 8u);
  EXPECT_EQ(parts[0].value, "");
  EXPECT_EQ(parts[2].value, "1970-01-01T00:00:00.001Z");
  EXPECT_EQ(parts[3].value, "1970-01-01T00:00:00.002Z");
  EXPECT_EQ(parts[7].filename, "");
}

using DrainTest = UploadDirTest;

TEST_F(DrainTest, ListingSkipsTmpCaseSensitivelyAndDirectoriesAndSortsByCodeUnits) {
  for (const wchar_t* name : {L"2_0_0_b", L"A.tmp", L"B.TMP", L"10_0_0_a", L"1_0_0_a.pdf",
                              L"1_0_0_a", L"1_0_0_Z", L"x.tmpx", L".tmp"}) {
    writeFile(spoolPath(name), "x");
  }
  ASSERT_TRUE(CreateDirectoryW(spoolPath(L"0_0_0_dir").c_str(), nullptr));
  std::vector<std::wstring> want = {L"10_0_0_a", L"1_0_0_Z", L"1_0_0_a", L"1_0_0_a.pdf",
                                    L"2_0_0_b",  L"B.TMP",   L"x.tmpx"};
  EXPECT_EQ(listSpool(settings.spoolDir), want);
}

TEST_F(DrainTest, EmptyOrMissingSpoolEndsThePassAsDone) {
  TokenClient client(L"http://127.0.0.1:1/token", "praxis", "secret");
  EXPECT_TRUE(drainSpool(client));
  settings.spoolDir = root_ + L"\\does-not-exist";
  EXPECT_TRUE(listSpool(settings.spoolDir).empty());
  EXPECT_TRUE(drainSpool(client));
  EXPECT_EQ(logText(), "");
}

TEST_F(DrainTest, StopRequestedBeforeThePassReadsNothing) {
  writeFile(spoolPath(L"1_2_3_report.pdf"), "x");
  HANDLE savedStop = stopEvent;
  UniqueHandle stop(CreateEventW(nullptr, TRUE, TRUE, nullptr));
  stopEvent = stop.get();
  TokenClient client(L"http://127.0.0.1:1/token", "praxis", "secret");
  bool done = drainSpool(client);
  stopEvent = savedStop;
  EXPECT_TRUE(done);
  EXPECT_TRUE(exists(spoolPath(L"1_2_3_report.pdf")));
  EXPECT_EQ(logText().find("upload deferred"), std::string::npos) << logText();
}

TEST_F(DrainTest, NoTokenDefersAtTheOldestUploadableFileAndLeavesAllInPlace) {
  // Nothing answers on port 1: the first file that is read and uploaded defers the pass.
  settings.serverUrl = L"http://127.0.0.1:1";
  writeFile(spoolPath(L"1_2_report.pdf"), "two underscores");  // sorts first, never sent
  writeFile(spoolPath(L"2000_1_0001_second.bef"), "b");
  writeFile(spoolPath(L"1000_1_0000_first.bef"), "a");
  writeFile(spoolPath(L"1000_1_0000_first.bef.tmp"), "partial");
  TokenClient client(L"http://127.0.0.1:1/token", "praxis", "secret");
  EXPECT_FALSE(drainSpool(client));
  std::string log = logText();
  EXPECT_NE(log.find("upload deferred first.bef http=0 winerr=5\r\n"), std::string::npos) << log;
  EXPECT_EQ(log.find("second.bef"), std::string::npos) << log;
  EXPECT_EQ(log.find("report.pdf"), std::string::npos) << log;
  for (const wchar_t* name : {L"1_2_report.pdf", L"2000_1_0001_second.bef",
                              L"1000_1_0000_first.bef", L"1000_1_0000_first.bef.tmp"}) {
    EXPECT_TRUE(exists(spoolPath(name)));
  }
}

TEST_F(DrainTest, UnreadableSpoolFileIsSkippedSilently) {
  settings.serverUrl = L"http://127.0.0.1:1";
  writeFile(spoolPath(L"1_2_3_held.bef"), "x");
  // A writer without read sharing makes the read Busy: the file is skipped, the pass is done.
  UniqueHandle held(CreateFileW(spoolPath(L"1_2_3_held.bef").c_str(), GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(held);
  TokenClient client(L"http://127.0.0.1:1/token", "praxis", "secret");
  EXPECT_TRUE(drainSpool(client));
  EXPECT_EQ(logText(), "");
}

}  // namespace
}  // namespace riz
