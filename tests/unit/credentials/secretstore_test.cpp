#include "credentials/secretstore.h"

#include <windows.h>
#include <dpapi.h>
#include <gtest/gtest.h>

#include "fileutil/tempdir.h"
#include "fileutil/unique.h"

namespace riz {
namespace {

using test::TempDir;

// The tests store under a name of their own, so that the product's "Service" secret in this
// prefix is never touched, and remove the key again.
constexpr const wchar_t* kName = L"UnitTestH1";

struct SecretFixture : ::testing::Test {
  void SetUp() override { removeKey(); }
  void TearDown() override { removeKey(); }
  static void removeKey() {
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, secretKeyPath(kName).c_str(), KEY_WOW64_64KEY, 0);
  }
  // Writes a raw value in place of the stored secret.
  static void writeRaw(DWORD type, const std::string& data) {
    UniqueHkey key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, secretKeyPath(kName).c_str(), 0, nullptr, 0,
                              KEY_WOW64_64KEY | KEY_SET_VALUE, nullptr, key.put(), nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(
        RegSetValueExW(key.get(), L"ClientSecret", 0, type,
                       reinterpret_cast<const BYTE*>(data.data()), static_cast<DWORD>(data.size())),
        ERROR_SUCCESS);
  }
  // A machine-scope DPAPI blob of plain made with the given entropy.
  static std::string protect(const std::string& plain, std::string entropy) {
    DATA_BLOB in{static_cast<DWORD>(plain.size()),
                 reinterpret_cast<BYTE*>(const_cast<char*>(plain.data()))};
    DATA_BLOB ent{static_cast<DWORD>(entropy.size()), reinterpret_cast<BYTE*>(entropy.data())};
    DATA_BLOB out{};
    if (!CryptProtectData(&in, L"Talvenor", entropy.empty() ? nullptr : &ent, nullptr, nullptr,
                          CRYPTPROTECT_UI_FORBIDDEN | CRYPTPROTECT_LOCAL_MACHINE, &out)) {
      return {};
    }
    UniqueLocal owner(out.pbData);
    return std::string(reinterpret_cast<const char*>(out.pbData), out.cbData);
  }
};

TEST(SecretNames, KeyPathAndEntropy) {
  EXPECT_EQ(secretKeyPath(L"Service"), L"SOFTWARE\\Talvenor-Dev\\Service");
  // The prefix is fixed for good: every stored secret depends on it.
  EXPECT_EQ(secretEntropy(L"Service"), "Norvessa1.Service");
  EXPECT_EQ(secretEntropy(L"Service").size(), 17u);
  EXPECT_EQ(secretEntropy(L"\u00C4"), "Norvessa1.\xC3\x84");
}

TEST_F(SecretFixture, StoredSecretLoadsBackByteForByte) {
  const std::string secret("\xEF\xBB\xBFs3cr\x00t-\xC3\xA4\xFF", 12);
  ASSERT_TRUE(storeSecret(kName, secret));
  std::string loaded = "previous content";
  ASSERT_TRUE(loadSecret(kName, loaded));
  EXPECT_TRUE(loaded == secret);

  // The registry holds a protected blob of type REG_BINARY, not the secret.
  UniqueHkey key;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, secretKeyPath(kName).c_str(), 0,
                          KEY_WOW64_64KEY | KEY_QUERY_VALUE, key.put()),
            ERROR_SUCCESS);
  DWORD type = 0;
  DWORD size = 0;
  ASSERT_EQ(RegQueryValueExW(key.get(), L"ClientSecret", nullptr, &type, nullptr, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
  EXPECT_GT(size, secret.size());
}

TEST_F(SecretFixture, StoringAgainReplacesTheFirstSecret) {
  ASSERT_TRUE(storeSecret(kName, "first"));
  ASSERT_TRUE(storeSecret(kName, "second"));
  std::string loaded;
  ASSERT_TRUE(loadSecret(kName, loaded));
  EXPECT_EQ(loaded, "second");
}

TEST_F(SecretFixture, ForeignOrDamagedValuesDoNotLoad) {
  struct Case {
    const char* name;
    DWORD type;
    std::string data;
  };
  const Case cases[] = {
      {"other entropy", REG_BINARY, protect("s3cret", "Other0001.UnitTestH1")},
      {"no entropy", REG_BINARY, protect("s3cret", "")},
      {"entropy of another name", REG_BINARY, protect("s3cret", secretEntropy(L"Service"))},
      {"garbage", REG_BINARY, std::string("\x01\x02\x03garbage-not-a-blob", 21)},
      {"empty value", REG_BINARY, ""},
      {"right blob, wrong type", REG_SZ, protect("s3cret", secretEntropy(kName))},
      {"larger than 4096 bytes", REG_BINARY, std::string(5000, '\x01')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    writeRaw(c.type, c.data);
    std::string loaded = "untouched";
    EXPECT_FALSE(loadSecret(kName, loaded));
    EXPECT_EQ(loaded, "untouched");
  }
  // The same plain text protected the way storeSecret does it loads: the cases above fail for
  // the reason given, not because the helper protects differently.
  writeRaw(REG_BINARY, protect("s3cret", secretEntropy(kName)));
  std::string loaded;
  EXPECT_TRUE(loadSecret(kName, loaded));
  EXPECT_EQ(loaded, "s3cret");
}

TEST_F(SecretFixture, NothingStoredDoesNotLoad) {
  std::string loaded = "untouched";
  EXPECT_FALSE(loadSecret(kName, loaded));
  EXPECT_EQ(loaded, "untouched");
  // A key without the value.
  UniqueHkey key;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, secretKeyPath(kName).c_str(), 0, nullptr, 0,
                            KEY_WOW64_64KEY | KEY_SET_VALUE, nullptr, key.put(), nullptr),
            ERROR_SUCCESS);
  EXPECT_FALSE(loadSecret(kName, loaded));
}

TEST(ReadSecretFile, DropsWhiteSpaceAndKeepsEverythingElse) {
  struct Case {
    const char* name;
    std::string content;
    bool ok;
    std::string secret;
  };
  const Case cases[] = {
      {"CR LF at the end", "s3cret\r\n", true, "s3cret"},
      {"blanks inside and around", "  s3 cr\tet \r\n\r\n", true, "s3cret"},
      {"every white-space byte",
       "\x09"
       "a\x0A"
       "b\x0B"
       "c\x0C"
       "d\x0D"
       "e\x20",
       true, "abcde"},
      {"UTF-8 byte-order mark stays", "\xEF\xBB\xBFs3cret\n", true, "\xEF\xBB\xBFs3cret"},
      {"UTF-16 keeps its zero bytes", std::string("\xFF\xFEs\0k\0\r\0\n\0", 10), true,
       std::string("\xFF\xFEs\0k\0\0\0", 8)},
      {"non-ASCII white space is not white space",
       "a\xC2\xA0"
       "b\x85",
       true,
       "a\xC2\xA0"
       "b\x85"},
      {"only blanks and line breaks", " \r\n\t \r\n", false, ""},
      {"empty file", "", false, ""},
  };
  TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(test::writeFile(dir / L"secret.txt", c.content));
    std::string secret = "previous";
    EXPECT_EQ(readSecretFile(dir / L"secret.txt", secret), c.ok);
    if (c.ok) {
      EXPECT_TRUE(secret == c.secret);
    }
  }
}

TEST(ReadSecretFile, UnreadableFilesGiveNoSecret) {
  TempDir dir;
  std::string secret;
  EXPECT_FALSE(readSecretFile(dir / L"missing.txt", secret));
  EXPECT_FALSE(readSecretFile(L"", secret));
  EXPECT_FALSE(readSecretFile(dir.path, secret)) << "a directory";
  ASSERT_TRUE(test::writeFile(dir / L"held.txt", "s3cret"));
  UniqueHandle writer(CreateFileW((dir / L"held.txt").c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                  nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(writer);
  EXPECT_FALSE(readSecretFile(dir / L"held.txt", secret)) << "a writer still has it open";
  EXPECT_TRUE(secret.empty());
}

}  // namespace
}  // namespace riz
