#include "upload/disposal.h"

#include <gtest/gtest.h>

#include "upload_fixture.h"

namespace riz {
namespace {

using DisposalTest = uploadtest::UploadDirTest;

const std::string kPdf = "%PDF-1.4 findings";

TEST_F(DisposalTest, DeletesOnlyAConfirmedUnchangedPdf) {
  struct Case {
    const char* label;
    bool deletePdf;
    const wchar_t* name;
    const char* result;
    bool rewrite;  // the source changed after capture
    bool deleted;
  };
  const Case cases[] = {
      {"stored pdf", true, L"report.pdf", "stored", false, true},
      {"duplicate pdf", true, L"report2.pdf", "duplicate", false, true},
      {"upper-case extension", true, L"report.PDF", "stored", false, true},
      {"mixed-case extension", true, L"r.Pdf", "duplicate", false, true},
      {"switch off", false, L"off.pdf", "stored", false, false},
      {"findings file is never deleted", true, L"report.bef", "stored", false, false},
      {"a name that is only the extension", true, L".pdf", "stored", false, false},
      {"result in other letter case", true, L"case.pdf", "Stored", false, false},
      {"empty result", true, L"empty.pdf", "", false, false},
      {"other result", true, L"other.pdf", "queued", false, false},
      {"result with trailing space", true, L"space.pdf", "stored ", false, false},
      {"changed after capture", true, L"changed.pdf", "stored", true, false},
  };
  const std::string digest = sha256Hex(kPdf);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    settings.deletePdf = c.deletePdf;
    writeFile(importPath(c.name), c.rewrite ? kPdf + " amended" : kPdf);
    disposeAfterUpload(c.name, digest, c.result);
    EXPECT_EQ(!exists(importPath(c.name)), c.deleted);
  }
  // Only the deletions speak, each with its name and digest.
  std::string log = logText();
  for (const char* name : {"report.pdf", "report2.pdf", "report.PDF", "r.Pdf"}) {
    EXPECT_NE(log.find(std::string("deleted pdf ") + name + " sha256=" + digest + "\r\n"),
              std::string::npos)
        << name << "\n"
        << log;
  }
  size_t lines = 0;
  for (char ch : log) lines += ch == '\n';
  EXPECT_EQ(lines, 4u) << log;
}

TEST_F(DisposalTest, MissingSourceIsSilent) {
  settings.deletePdf = true;
  disposeAfterUpload(L"gone.pdf", sha256Hex(kPdf), "stored");
  settings.importDir = root_ + L"\\no-such-dir";
  disposeAfterUpload(L"gone.pdf", sha256Hex(kPdf), "stored");
  EXPECT_EQ(logText(), "");
}

TEST_F(DisposalTest, SourceHeldByAWriterStaysSilently) {
  settings.deletePdf = true;
  writeFile(importPath(L"busy.pdf"), kPdf);
  UniqueHandle writer(CreateFileW(importPath(L"busy.pdf").c_str(), GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(writer);
  disposeAfterUpload(L"busy.pdf", sha256Hex(kPdf), "stored");
  writer.reset();
  EXPECT_TRUE(exists(importPath(L"busy.pdf")));
  EXPECT_EQ(logText(), "");
}

TEST_F(DisposalTest, SourceHeldByAReaderWithoutDeleteSharingIsAFailedDeletion) {
  settings.deletePdf = true;
  writeFile(importPath(L"viewer.pdf"), kPdf);
  UniqueHandle viewer(CreateFileW(importPath(L"viewer.pdf").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(viewer);
  disposeAfterUpload(L"viewer.pdf", sha256Hex(kPdf), "stored");
  viewer.reset();
  EXPECT_TRUE(exists(importPath(L"viewer.pdf")));
  EXPECT_EQ(logText().find("delete pdf viewer.pdf failed err=32\r\n") != std::string::npos, true)
      << logText();
}

TEST_F(DisposalTest, ReadOnlySourceLogsTheRefusedDeletion) {
  settings.deletePdf = true;
  writeFile(importPath(L"ro.pdf"), kPdf);
  ASSERT_TRUE(SetFileAttributesW(importPath(L"ro.pdf").c_str(), FILE_ATTRIBUTE_READONLY));
  disposeAfterUpload(L"ro.pdf", sha256Hex(kPdf), "stored");
  EXPECT_TRUE(exists(importPath(L"ro.pdf")));
  EXPECT_NE(logText().find("delete pdf ro.pdf failed err=5\r\n"), std::string::npos) << logText();
}

// The verified bytes are the deleted bytes: while the disposal holds the file no writer can
// get in, a rewrite that happened before the read is seen, and the deletion goes through the
// handle that was read.
TEST_F(DisposalTest, WritersAreKeptOutBetweenTheHashAndTheDeletion) {
  const std::wstring path = importPath(L"race.pdf");
  writeFile(path, kPdf);
  UniqueHandle held = openForVerifiedDelete(path);
  ASSERT_TRUE(held);

  UniqueHandle writer(CreateFileW(path.c_str(), GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD writerError = GetLastError();
  EXPECT_FALSE(writer);
  EXPECT_EQ(writerError, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  UniqueHandle truncater(CreateFileW(path.c_str(), GENERIC_WRITE,
                                     FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
  EXPECT_FALSE(truncater);

  DWORD error = 0;
  EXPECT_EQ(deleteIfUnchanged(held.get(), sha256Hex(kPdf + " amended"), &error),
            VerifiedDelete::Differs);
  EXPECT_TRUE(exists(path));
  // The same handle read again from the start: the digest matches and the file goes.
  EXPECT_EQ(deleteIfUnchanged(held.get(), sha256Hex(kPdf), &error), VerifiedDelete::Deleted);
  held.reset();
  EXPECT_FALSE(exists(path));
}

TEST_F(DisposalTest, AFileReplacedUnderTheSameNameIsNotTheOneDeleted) {
  // A program renames the verified file away and writes new findings under the old name while
  // the handle is held: whatever the deletion takes, it is never the new file. (Windows removes
  // the renamed original; Wine 8 keeps it, which loses nothing.)
  const std::wstring path = importPath(L"swap.pdf");
  const std::wstring aside = importPath(L"swap-old.pdf");
  writeFile(path, kPdf);
  UniqueHandle held = openForVerifiedDelete(path);
  ASSERT_TRUE(held);
  ASSERT_TRUE(MoveFileExW(path.c_str(), aside.c_str(), 0));
  writeFile(path, "new findings");
  DWORD error = 0;
  EXPECT_EQ(deleteIfUnchanged(held.get(), sha256Hex(kPdf), &error), VerifiedDelete::Deleted);
  held.reset();
  std::string bytes;
  ASSERT_EQ(readWholeFile(path, FILE_SHARE_READ, bytes), ReadResult::Ok);
  EXPECT_EQ(bytes, "new findings");
}

}  // namespace
}  // namespace riz
