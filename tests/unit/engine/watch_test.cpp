#include "engine/watch.h"

#include <gtest/gtest.h>

#include <cstring>

#include "engine_fixture.h"

namespace riz {
namespace {

using enginetest::EngineDirTest;

// Appends one FILE_NOTIFY_INFORMATION record; returns its offset. next is patched later.
size_t addRecord(std::vector<BYTE>& buffer, DWORD action, const std::wstring& name,
                 DWORD nameBytes = 0) {
  const size_t at = buffer.size();
  const DWORD header = offsetof(FILE_NOTIFY_INFORMATION, FileName);
  const DWORD length = nameBytes ? nameBytes : static_cast<DWORD>(name.size() * sizeof(WCHAR));
  const size_t size = (header + name.size() * sizeof(WCHAR) + 3) & ~size_t{3};
  buffer.resize(at + size);
  FILE_NOTIFY_INFORMATION record{};
  record.Action = action;
  record.FileNameLength = length;
  std::memcpy(buffer.data() + at, &record, header);
  std::memcpy(buffer.data() + at + header, name.data(), name.size() * sizeof(WCHAR));
  return at;
}

void link(std::vector<BYTE>& buffer, size_t from, size_t to) {
  const DWORD next = static_cast<DWORD>(to - from);
  std::memcpy(buffer.data() + from, &next, sizeof next);
}

TEST(NotifiedNames, CountsAddedModifiedAndRenamedToInBufferOrder) {
  std::vector<BYTE> buffer;
  const size_t r[] = {
      addRecord(buffer, FILE_ACTION_ADDED, L"new.bef"),
      addRecord(buffer, FILE_ACTION_REMOVED, L"gone.bef"),
      addRecord(buffer, FILE_ACTION_MODIFIED, L"\u00c4nderung.pdf"),
      addRecord(buffer, FILE_ACTION_RENAMED_OLD_NAME, L"old.bef"),
      addRecord(buffer, FILE_ACTION_RENAMED_NEW_NAME, L"renamed.bef"),
      addRecord(buffer, FILE_ACTION_ADDED, L"odd.bef", 13),  // an odd length loses its last byte
  };
  for (size_t i = 0; i + 1 < std::size(r); ++i) link(buffer, r[i], r[i + 1]);
  EXPECT_EQ(
      notifiedNames(buffer.data(), static_cast<DWORD>(buffer.size())),
      (std::vector<std::wstring>{L"new.bef", L"\u00c4nderung.pdf", L"renamed.bef", L"odd.be"}));
  EXPECT_TRUE(notifiedNames(buffer.data(), 0).empty()) << "a 0-byte completion names nothing";
}

TEST(NotifiedNames, StopsAtARecordThatDoesNotFit) {
  std::vector<BYTE> buffer;
  const size_t first = addRecord(buffer, FILE_ACTION_ADDED, L"a.bef");
  const size_t second = addRecord(buffer, FILE_ACTION_ADDED, L"b.bef", 4000);
  link(buffer, first, second);
  EXPECT_EQ(notifiedNames(buffer.data(), static_cast<DWORD>(buffer.size())),
            std::vector<std::wstring>{L"a.bef"});
  EXPECT_EQ(notifiedNames(buffer.data(), 6), std::vector<std::wstring>{}) << "a cut header";
}

class WatchTest : public EngineDirTest {
 protected:
  void SetUp() override {
    EngineDirTest::SetUp();
    initWatch(watch_);
  }
  void TearDown() override {
    closeWatch(watch_);
    EngineDirTest::TearDown();
  }
  // Waits for the read to complete, then hands the notifications over.
  void takeWhenSignalled() {
    ASSERT_EQ(WaitForSingleObject(watch_.event.get(), 5000), WAIT_OBJECT_0);
    takeNotifications(watch_, schedule_);
  }
  Watch watch_;
  Schedule schedule_;
};

TEST_F(WatchTest, MissingDirectoryFailsToOpen) {
  settings.importDir = importPath(L"missing");
  EXPECT_FALSE(openWatch(watch_));
  EXPECT_FALSE(watchIsOpen(watch_));
  EXPECT_NE(logText().find("watch failed err=2\r\n"), std::string::npos) << logText();
}

TEST_F(WatchTest, NotifiedFilesBecomeCandidatesAndTheWatchStaysOpen) {
  ASSERT_TRUE(test::writeFile(importPath(L"doomed.bef"), "0"));
  ASSERT_TRUE(test::writeFile(importPath(L"draft.txt"), "1"));
  ASSERT_TRUE(openWatch(watch_));
  EXPECT_NE(logText().find("watching import dir\r\n"), std::string::npos);

  // A rename reports the new name; a deletion and an unwatched extension nominate nothing.
  ASSERT_TRUE(MoveFileW(importPath(L"draft.txt").c_str(), importPath(L"final.pdf").c_str()));
  ASSERT_TRUE(DeleteFileW(importPath(L"doomed.bef").c_str()));
  ASSERT_TRUE(test::writeFile(importPath(L"last.bef"), "2"));
  for (int i = 0; i < 10 && candidates.count(L"last.bef") == 0; ++i) {
    takeWhenSignalled();
    ASSERT_TRUE(watchIsOpen(watch_));
  }
  EXPECT_EQ(candidates.count(L"final.pdf"), 1u);
  EXPECT_EQ(candidates.count(L"last.bef"), 1u);
  EXPECT_EQ(candidates.size(), 2u);
}

TEST_F(WatchTest, FailedCompletionLosesTheWatchAndSchedulesAReopen) {
  ASSERT_TRUE(openWatch(watch_));
  // Cancelling the outstanding read makes it complete with an error.
  ASSERT_TRUE(CancelIo(watch_.directory.get()));
  const uint64_t before = nowMs();
  takeWhenSignalled();
  EXPECT_FALSE(watchIsOpen(watch_));
  EXPECT_NE(logText().find("watch lost err=995, reopening\r\n"), std::string::npos) << logText();
  EXPECT_GE(schedule_.watchReopenDueMs, before + 5000);
  EXPECT_LE(schedule_.watchReopenDueMs, nowMs() + 5000);
  ASSERT_TRUE(openWatch(watch_)) << "the same buffer and event serve the next watch";
}

// More changes than the buffer holds are lost. Whether the platform reports that as a
// 0-byte completion or as a failed one (ERROR_NOTIFY_ENUM_DIR), the watch stays open and a
// full scan is due at once.
TEST_F(WatchTest, OverflowKeepsTheWatchAndSchedulesAFullScan) {
  ASSERT_TRUE(openWatch(watch_));
  ASSERT_TRUE(test::writeFile(importPath(L"first.bef"), "1"));
  takeWhenSignalled();
  for (int i = 0; i < 600; ++i) {
    ASSERT_TRUE(
        test::writeFile(importPath(std::wstring(100, L'n') + std::to_wstring(i) + L".txt"), ""));
  }
  schedule_.scanDueMs = UINT64_MAX;
  const uint64_t before = nowMs();
  for (int i = 0; i < 20 && watchIsOpen(watch_) && schedule_.scanDueMs == UINT64_MAX; ++i) {
    takeWhenSignalled();
  }
  EXPECT_TRUE(watchIsOpen(watch_)) << logText();
  EXPECT_EQ(logText().find("watch lost"), std::string::npos) << logText();
  EXPECT_GE(schedule_.scanDueMs, before);
  EXPECT_LE(schedule_.scanDueMs, nowMs());
}

TEST_F(WatchTest, CloseCancelsTheOutstandingRead) {
  ASSERT_TRUE(openWatch(watch_));
  closeWatch(watch_);
  EXPECT_FALSE(watchIsOpen(watch_));
  EXPECT_FALSE(watch_.readPending);
  closeWatch(watch_);  // closing a closed watch is harmless
}

}  // namespace
}  // namespace riz
