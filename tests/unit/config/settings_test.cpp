#include "config/settings.h"

#include <gtest/gtest.h>

#include "config/text.h"
#include "fileutil/tempdir.h"
#include "fileutil/unique.h"

namespace riz {
namespace {

using Extensions = std::vector<std::wstring>;

// Writes the real service.ini of the test prefix (UTF-16 with BOM, as Notepad saves it) and
// removes it again, leaving settings at their defaults for the tests that follow.
struct SettingsFixture : ::testing::Test {
  std::wstring productDir = expandEnvironment(L"%ProgramData%\\Talvenor-Dev");
  std::wstring ini = productDir + L"\\service.ini";

  void SetUp() override {
    CreateDirectoryW(productDir.c_str(), nullptr);
    DeleteFileW(ini.c_str());
  }
  void TearDown() override {
    DeleteFileW(ini.c_str());
    WritePrivateProfileStringW(nullptr, nullptr, nullptr, ini.c_str());
    loadSettings();
  }
  void writeIni(const std::wstring& text) {
    std::string bytes = "\xFF\xFE";
    bytes.append(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
    ASSERT_TRUE(test::writeFile(ini, bytes));
    // The profile reader may cache a file it has seen; this flushes that cache.
    WritePrivateProfileStringW(nullptr, nullptr, nullptr, ini.c_str());
  }
  // loadSettings with a service.ini of these lines.
  void load(const std::wstring& text) {
    writeIni(text);
    loadSettings();
  }
};

TEST_F(SettingsFixture, NoFileGivesEveryDefault) {
  loadSettings();
  const Settings& s = settings;
  EXPECT_EQ(s.iniPath, L"C:\\ProgramData\\Talvenor-Dev\\service.ini");
  EXPECT_EQ(s.serverUrl, kDefaultServerUrl);
  EXPECT_EQ(s.tokenUrl, kDefaultTokenUrl);
  EXPECT_TRUE(s.serverUrl.starts_with(L"https://"));
  EXPECT_TRUE(s.tokenUrl.starts_with(L"https://"));
  EXPECT_TRUE(s.tokenUrl.ends_with(L"/realms/brevant/protocol/openid-connect/token"));
  EXPECT_EQ(s.clientId, "wetysqtn-pr-978015");
  EXPECT_EQ(s.importDir, L"C:\\CGM\\Connect\\Import");
  EXPECT_EQ(s.extensions, (Extensions{L".bef", L".pdf"}));
  EXPECT_EQ(s.stableMs, 2000);
  EXPECT_EQ(s.scanSeconds, 60);
  EXPECT_EQ(s.pollSeconds, 0);
  EXPECT_FALSE(s.deletePdf);
  EXPECT_EQ(s.stateDir, L"C:\\ProgramData\\Talvenor-Dev\\Rizurarirove");
  EXPECT_EQ(s.spoolDir, L"C:\\ProgramData\\Talvenor-Dev\\Rizurarirove\\spool");
  EXPECT_EQ(s.rejectedDir, L"C:\\ProgramData\\Talvenor-Dev\\Rizurarirove\\rejected");
  EXPECT_EQ(s.ledgerPath, L"C:\\ProgramData\\Talvenor-Dev\\Rizurarirove\\captured.tsv");
  wchar_t computer[256] = {};
  GetEnvironmentVariableW(L"COMPUTERNAME", computer, 256);
  EXPECT_EQ(s.hostName, toUtf8(computer));
  EXPECT_FALSE(s.hostName.empty());
  EXPECT_EQ(s.iniOpenError, 0u);
}

TEST_F(SettingsFixture, EveryKeyIsReadFromItsSection) {
  load(
      L"[server]\r\nurl=https://findings.example:8443/api/\r\n"
      L"token_url=http://127.0.0.1:9/token/\r\nclient_id=praxis-\u00C4rzte\r\n"
      L"[import]\r\ndir=D:\\Befunde\\\r\nextensions=.hl7\r\nstable_ms=0\r\nscan_seconds=11\r\n"
      L"delete_pdf=2\r\n[outbox]\r\npoll_seconds=45\r\n");
  const Settings& s = settings;
  EXPECT_EQ(s.serverUrl, L"https://findings.example:8443/api");
  EXPECT_EQ(s.tokenUrl, L"http://127.0.0.1:9/token/") << "token_url keeps its slash";
  EXPECT_EQ(s.clientId, "praxis-\xC3\x84rzte");
  EXPECT_EQ(s.importDir, L"D:\\Befunde");
  EXPECT_EQ(s.extensions, (Extensions{L".hl7"}));
  EXPECT_EQ(s.stableMs, 0) << "no bounds on stable_ms";
  EXPECT_EQ(s.scanSeconds, 11);
  EXPECT_EQ(s.pollSeconds, 45);
  EXPECT_TRUE(s.deletePdf);
}

TEST_F(SettingsFixture, DeletePdfBelongsToImportNotOutbox) {
  load(L"[outbox]\r\ndelete_pdf=1\r\n");
  EXPECT_FALSE(settings.deletePdf);
}

TEST_F(SettingsFixture, TrailingSeparatorsAreRemovedRepeatedly) {
  struct Case {
    const wchar_t* url;
    const wchar_t* dir;
    const wchar_t* serverUrl;
    const wchar_t* importDir;
  };
  const Case cases[] = {
      {L"https://h.example///", L"D:\\Import\\/\\", L"https://h.example", L"D:\\Import"},
      {L"https://h.example/api/", L"C:\\", L"https://h.example/api", L"C:"},
      {L"///", L"\\/", L"", L""},
      {L"https://h.example", L"\\\\server\\share\\", L"https://h.example", L"\\\\server\\share"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(toUtf8(c.url));
    load(std::wstring(L"[server]\r\nurl=") + c.url + L"\r\n[import]\r\ndir=" + c.dir + L"\r\n");
    EXPECT_EQ(settings.serverUrl, c.serverUrl);
    EXPECT_EQ(settings.importDir, c.importDir);
  }
}

TEST_F(SettingsFixture, IntegerClamps) {
  struct Case {
    const wchar_t* value;
    int32_t scanSeconds;
    int32_t pollSeconds;
  };
  const Case cases[] = {
      {L"0", 10, 0},   {L"5", 10, 10}, {L"3", 10, 10},  {L"9", 10, 10},     {L"10", 10, 10},
      {L"45", 45, 45}, {L"-7", 10, 0}, {L"abc", 10, 0}, {L"600", 600, 600},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(toUtf8(c.value));
    load(std::wstring(L"[import]\r\nscan_seconds=") + c.value + L"\r\n[outbox]\r\npoll_seconds=" +
         c.value + L"\r\n");
    EXPECT_EQ(settings.scanSeconds, c.scanSeconds);
    EXPECT_EQ(settings.pollSeconds, c.pollSeconds);
  }
}

TEST_F(SettingsFixture, ExtensionsFromTheFile) {
  load(L"[import]\r\nextensions= BEF, .Pdf,,xml ,\r\n");
  EXPECT_EQ(settings.extensions, (Extensions{L".BEF", L".Pdf", L".xml"}));
  load(L"[import]\r\nextensions=.bef,\t.pdf\r\n");
  EXPECT_EQ(settings.extensions, (Extensions{L".bef", L".\t.pdf"}));
  load(L"[import]\r\nextensions=\r\n");
  EXPECT_TRUE(settings.extensions.empty()) << "a present but empty key gives an empty list";
}

TEST(SplitExtensions, Table) {
  struct Case {
    const char* name;
    std::wstring value;
    Extensions expected;
  };
  const Case cases[] = {
      {"default", L".bef,.pdf", {L".bef", L".pdf"}},
      {"blanks, missing dots, empty pieces", L" BEF, .Pdf,,xml ,", {L".BEF", L".Pdf", L".xml"}},
      {"empty value", L"", {}},
      {"only commas and blanks", L" , ,,  ", {}},
      {"tab after a comma is kept", L".bef,\t.pdf", {L".bef", L".\t.pdf"}},
      {"trailing tab is kept", L"bef\t", {L".bef\t"}},
      {"inner blank stays", L"b e f", {L".b e f"}},
      {"wildcard gets a dot", L"*.bef", {L".*.bef"}},
      {"duplicates remain", L".bef,.BEF,.bef", {L".bef", L".BEF", L".bef"}},
      {"a lone dot is an entry", L".", {L"."}},
      {"leading comma", L",pdf", {L".pdf"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(splitExtensions(c.value), c.expected);
  }
}

TEST_F(SettingsFixture, EnvironmentReferencesAreExpandedInValues) {
  wchar_t pub[MAX_PATH] = {};
  ASSERT_GT(GetEnvironmentVariableW(L"PUBLIC", pub, MAX_PATH), 0u);
  load(L"[import]\r\ndir=%PUBLIC%\\Befunde\\\r\n[server]\r\nclient_id=%RIZ_H1_UNDEFINED%\r\n");
  EXPECT_EQ(settings.importDir, std::wstring(pub) + L"\\Befunde");
  EXPECT_EQ(settings.clientId, "%RIZ_H1_UNDEFINED%") << "an undefined reference stays";
}

TEST_F(SettingsFixture, LongValueIsCutTo2047Characters) {
  load(L"[server]\r\nclient_id=" + std::wstring(3000, L'k') + L"\r\n");
  EXPECT_EQ(settings.clientId, std::string(2047, 'k'));
}

TEST_F(SettingsFixture, AsciiFileWithoutBomIsReadToo) {
  ASSERT_TRUE(test::writeFile(ini, "[import]\r\nstable_ms=300\r\n"));
  WritePrivateProfileStringW(nullptr, nullptr, nullptr, ini.c_str());
  loadSettings();
  EXPECT_EQ(settings.stableMs, 300);
}

// A service.ini that exists but cannot be opened gives the defaults, as the profile reader
// does, and the reason is kept so that --check and the log can say so.
TEST_F(SettingsFixture, UnreadableFileGivesDefaultsAndTheReason) {
  load(L"[import]\r\nstable_ms=300\r\ndir=D:\\Elsewhere\r\n");
  ASSERT_EQ(settings.stableMs, 300);
  {
    UniqueHandle holder(CreateFileW(ini.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder);
    WritePrivateProfileStringW(nullptr, nullptr, nullptr, ini.c_str());
    loadSettings();
    EXPECT_EQ(settings.iniOpenError, static_cast<unsigned long>(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(settings.stableMs, 2000);
    EXPECT_EQ(settings.importDir, L"C:\\CGM\\Connect\\Import");
  }
  loadSettings();
  EXPECT_EQ(settings.iniOpenError, 0u);
  EXPECT_EQ(settings.stableMs, 300);

  // A directory of that name cannot be read either.
  ASSERT_TRUE(DeleteFileW(ini.c_str()));
  ASSERT_TRUE(CreateDirectoryW(ini.c_str(), nullptr));
  loadSettings();
  EXPECT_NE(settings.iniOpenError, 0u);
  EXPECT_EQ(settings.stableMs, 2000);
  RemoveDirectoryW(ini.c_str());
}

TEST(ExpandEnvironment, ReplacesKnownReferencesOnly) {
  SetEnvironmentVariableW(L"RIZ_H1_VAR", L"x\u00E4y");
  EXPECT_EQ(expandEnvironment(L"a%RIZ_H1_VAR%b"), L"ax\u00E4yb");
  EXPECT_EQ(expandEnvironment(L"%RIZ_H1_NOT_SET%\\x"), L"%RIZ_H1_NOT_SET%\\x");
  EXPECT_EQ(expandEnvironment(L""), L"");
  EXPECT_EQ(expandEnvironment(L"100%"), L"100%");
  SetEnvironmentVariableW(L"RIZ_H1_VAR", nullptr);
}

}  // namespace
}  // namespace riz
