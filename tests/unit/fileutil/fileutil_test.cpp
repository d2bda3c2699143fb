#include "fileutil/fileutil.h"

#include <gtest/gtest.h>

#include <regex>

#include "fileutil/tempdir.h"
#include "fileutil/unique.h"

namespace riz {
namespace {

using test::TempDir;

constexpr DWORD kCaptureShare = FILE_SHARE_READ | FILE_SHARE_DELETE;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

TEST(ReadWholeFile, ReadsContentAcrossChunksAndDeliversLastWriteTime) {
  TempDir dir;
  std::string content(2 * kReadChunkBytes + 12345, '\0');
  for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7 + i / 997);
  ASSERT_TRUE(test::writeFile(dir / L"a.bef", content));

  std::string bytes = "stale";
  FILETIME written{};
  DWORD err = 12345;
  ASSERT_EQ(readWholeFile(dir / L"a.bef", FILE_SHARE_READ, bytes, &written, &err), ReadResult::Ok);
  EXPECT_TRUE(bytes == content);
  EXPECT_EQ(err, 12345u) << "errorCode is left alone on Ok";

  WIN32_FILE_ATTRIBUTE_DATA info;
  ASSERT_TRUE(GetFileAttributesExW((dir / L"a.bef").c_str(), GetFileExInfoStandard, &info));
  EXPECT_EQ(CompareFileTime(&written, &info.ftLastWriteTime), 0);
}

TEST(ReadWholeFile, EmptyFileIsOkWithItsLastWriteTime) {
  TempDir dir;
  ASSERT_TRUE(test::writeFile(dir / L"empty.pdf", ""));
  // A fixed, recognisable time, so that a zero FILETIME cannot pass by chance.
  FILETIME stamp{0x12345678, 0x01D9ABCD};
  {
    UniqueHandle h(CreateFileW((dir / L"empty.pdf").c_str(), FILE_WRITE_ATTRIBUTES, kShareAll,
                               nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(h);
    ASSERT_TRUE(SetFileTime(h.get(), nullptr, nullptr, &stamp));
  }
  std::string bytes;
  FILETIME written{};
  ASSERT_EQ(readWholeFile(dir / L"empty.pdf", FILE_SHARE_READ, bytes, &written), ReadResult::Ok);
  EXPECT_TRUE(bytes.empty());
  EXPECT_EQ(written.dwLowDateTime, stamp.dwLowDateTime);
  EXPECT_EQ(written.dwHighDateTime, stamp.dwHighDateTime);
}

// A writer that still holds the file keeps the reader out, whichever sharing it granted,
// because none of the readers below lets a writer go on writing.
TEST(ReadWholeFile, FileHeldByAWriterIsBusy) {
  struct Case {
    const char* name;
    DWORD writerShare;
    DWORD readerShare;
    ReadResult expected;
  };
  const Case cases[] = {
      {"writer shares nothing, secret-file reader", 0, FILE_SHARE_READ, ReadResult::Busy},
      {"writer shares nothing, capture reader", 0, kCaptureShare, ReadResult::Busy},
      {"writer shares read, capture reader", FILE_SHARE_READ, kCaptureShare, ReadResult::Busy},
      {"writer shares read, secret-file reader", FILE_SHARE_READ, FILE_SHARE_READ,
       ReadResult::Busy},
      // The outbox reader tolerates writers: it reads what is there.
      {"writer shares read, outbox reader", FILE_SHARE_READ, kShareAll, ReadResult::Ok},
  };
  TempDir dir;
  ASSERT_TRUE(test::writeFile(dir / L"held.bef", "content"));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    UniqueHandle writer(CreateFileW((dir / L"held.bef").c_str(), GENERIC_WRITE, c.writerShare,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(writer);
    std::string bytes;
    DWORD err = 0;
    EXPECT_EQ(readWholeFile(dir / L"held.bef", c.readerShare, bytes, nullptr, &err), c.expected);
    if (c.expected == ReadResult::Busy) {
      EXPECT_EQ(err, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    } else {
      EXPECT_EQ(bytes, "content");
    }
  }
  // Once the writer has gone, the same file reads.
  std::string bytes;
  EXPECT_EQ(readWholeFile(dir / L"held.bef", kCaptureShare, bytes), ReadResult::Ok);
}

TEST(ReadWholeFile, MissingFileOrDirectoryIsMissing) {
  TempDir dir;
  std::string bytes;
  DWORD err = 0;
  EXPECT_EQ(readWholeFile(dir / L"nothing.bef", FILE_SHARE_READ, bytes, nullptr, &err),
            ReadResult::Missing);
  EXPECT_EQ(err, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  err = 0;
  EXPECT_EQ(readWholeFile(dir / L"no-dir\\a.bef", FILE_SHARE_READ, bytes, nullptr, &err),
            ReadResult::Missing);
  EXPECT_EQ(err, static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST(ReadWholeFile, OtherOpenFailuresAreFailed) {
  TempDir dir;
  std::string bytes;
  DWORD err = 0;
  // An invalid name is neither busy nor gone.
  EXPECT_EQ(readWholeFile(dir / L"bad|name.bef", FILE_SHARE_READ, bytes, nullptr, &err),
            ReadResult::Failed);
  EXPECT_EQ(err, static_cast<DWORD>(ERROR_INVALID_NAME));
}

TEST(ReadWholeFile, SizeLimitIs64MiB) {
  TempDir dir;
  ASSERT_TRUE(test::makeFileOfSize(dir / L"limit.bin", 67108864));
  ASSERT_TRUE(test::makeFileOfSize(dir / L"over.bin", 67108865));
  std::string bytes;
  EXPECT_EQ(readWholeFile(dir / L"limit.bin", FILE_SHARE_READ, bytes), ReadResult::Ok);
  EXPECT_EQ(bytes.size(), 67108864u);
  bytes.clear();
  bytes.shrink_to_fit();
  DWORD err = 0;
  EXPECT_EQ(readWholeFile(dir / L"over.bin", FILE_SHARE_READ, bytes, nullptr, &err),
            ReadResult::Failed);
  EXPECT_NE(err, 0u);
  EXPECT_LT(bytes.size(), 67108865u) << "nothing is read from a file over the limit";
}

TEST(Sha256Hex, KnownVectorsInLowercase) {
  struct Case {
    std::string input;
    const char* digest;
  };
  const Case cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
      {std::string("\0\xff", 2),
       "06eb7d6a69ee19e5fbdf749018d3d2abfa04bcbd1365db312eb86dc7169389b8"},
  };
  const std::regex lowerHex("[0-9a-f]{64}");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input.substr(0, 20));
    const std::string digest = sha256Hex(c.input);
    EXPECT_EQ(digest, c.digest);
    EXPECT_TRUE(std::regex_match(digest, lowerHex));
  }
}

TEST(WriteFileViaTemp, CreatesTheFileWithExactlyTheBytesAndNoTemporary) {
  TempDir dir;
  const std::string content("line 1\r\nline 2\n\0binary\xff", 24);
  ASSERT_TRUE(writeFileViaTemp(dir.path, L"20240501.bef", content));
  EXPECT_EQ(test::readFile(dir / L"20240501.bef"), content);
  EXPECT_FALSE(test::exists(dir / L"20240501.bef.tmp"));

  ASSERT_TRUE(writeFileViaTemp(dir.path, L"empty.pdf", ""));
  EXPECT_TRUE(test::exists(dir / L"empty.pdf"));
  EXPECT_EQ(test::readFile(dir / L"empty.pdf"), "");
  EXPECT_FALSE(test::exists(dir / L"empty.pdf.tmp"));
}

TEST(WriteFileViaTemp, NeverReplacesAnExistingFile) {
  TempDir dir;
  ASSERT_TRUE(test::writeFile(dir / L"a.bef", "first"));
  SetLastError(0);
  EXPECT_FALSE(writeFileViaTemp(dir.path, L"a.bef", "second"));
  const DWORD err = GetLastError();
  EXPECT_TRUE(err == ERROR_ALREADY_EXISTS || err == ERROR_FILE_EXISTS) << err;
  EXPECT_EQ(test::readFile(dir / L"a.bef"), "first");
  EXPECT_FALSE(test::exists(dir / L"a.bef.tmp"));
}

TEST(WriteFileViaTemp, LeftoverTemporaryBlocksTheNameAndStays) {
  TempDir dir;
  ASSERT_TRUE(test::writeFile(dir / L"a.bef.tmp", "someone else's"));
  SetLastError(0);
  EXPECT_FALSE(writeFileViaTemp(dir.path, L"a.bef", "mine"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
  EXPECT_FALSE(test::exists(dir / L"a.bef"));
  EXPECT_EQ(test::readFile(dir / L"a.bef.tmp"), "someone else's");
  // Once it is gone the name works again.
  ASSERT_TRUE(DeleteFileW((dir / L"a.bef.tmp").c_str()));
  EXPECT_TRUE(writeFileViaTemp(dir.path, L"a.bef", "mine"));
  EXPECT_EQ(test::readFile(dir / L"a.bef"), "mine");
}

TEST(WriteFileViaTemp, MissingDirectoryFailsWithoutLeavingAnything) {
  TempDir dir;
  SetLastError(0);
  EXPECT_FALSE(writeFileViaTemp(dir / L"gone", L"a.bef", "x"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_FALSE(test::exists(dir / L"gone"));
}

TEST(WipeBytes, ZeroesAndEmpties) {
  std::string secret = "s3cret";
  const char* data = secret.data();
  wipeBytes(secret);
  EXPECT_TRUE(secret.empty());
  for (size_t i = 0; i < 6; ++i) EXPECT_EQ(data[i], '\0');
}

}  // namespace
}  // namespace riz
