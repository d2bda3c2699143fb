#include "config/statedir.h"

#include <windows.h>
#include <gtest/gtest.h>
#include <sddl.h>

#include "config/settings.h"
#include "config/text.h"
#include "fileutil/tempdir.h"
#include "fileutil/unique.h"

namespace riz {
namespace {

using test::TempDir;

// The DACL of path in SDDL, as the system reports it ("" when it cannot be read).
std::wstring daclSddl(const std::wstring& path) {
  DWORD need = 0;
  GetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &need);
  if (need == 0) return L"";
  std::string buffer(need, '\0');
  if (!GetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION, buffer.data(), need, &need)) {
    return L"";
  }
  LPWSTR text = nullptr;
  if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(
          buffer.data(), SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr)) {
    return L"";
  }
  UniqueLocal owner(text);
  return text;
}

// Sets a DACL given in SDDL on path.
bool setDacl(const std::wstring& path, const wchar_t* sddl) {
  PSECURITY_DESCRIPTOR raw = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &raw, nullptr)) {
    return false;
  }
  UniqueLocal owner(raw);
  return SetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION, raw);
}

// The protected DACL: no inherited entries, full access for SYSTEM and Administrators, both
// inherited by files and subdirectories. "FA" is FILE_ALL_ACCESS.
constexpr const wchar_t* kProtectedDacl = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

bool onWine() {
  return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

// Windows reports the protected DACL as it was set. Wine keeps no DACLs of its own: it maps
// them to Unix permission bits and reports a DACL made from those (SYSTEM, the owner, and
// Everyone when others may read), without the protected flag. There the test is that no
// entry for everyone or for users is left.
void expectProtected(const std::wstring& dir) {
  const std::wstring sddl = daclSddl(dir);
  if (!onWine()) {
    EXPECT_EQ(sddl, kProtectedDacl);
    return;
  }
  EXPECT_TRUE(sddl.starts_with(L"D:")) << toUtf8(sddl);
  EXPECT_NE(sddl.find(L"(A;OICI;FA;;;SY)"), std::wstring::npos) << toUtf8(sddl);
  for (const wchar_t* other : {L";;;WD)", L";;;BU)", L";;;AU)"}) {
    EXPECT_EQ(sddl.find(other), std::wstring::npos) << toUtf8(sddl);
  }
}

// prepareStateDirectories works on the fixed state directory of the prefix; each test starts
// without it and leaves none behind.
struct StateDirFixture : ::testing::Test {
  std::wstring productDir = expandEnvironment(L"%ProgramData%\\Talvenor-Dev");
  void SetUp() override {
    loadSettings();
    test::removeTree(settings.stateDir);
  }
  void TearDown() override { test::removeTree(settings.stateDir); }
};

TEST_F(StateDirFixture, FreshMachineGetsAllDirectoriesWithTheProtectedDacl) {
  test::removeTree(productDir);
  ASSERT_TRUE(prepareStateDirectories());
  for (const std::wstring& dir :
       {productDir, settings.stateDir, settings.spoolDir, settings.rejectedDir}) {
    SCOPED_TRACE(toUtf8(dir));
    const DWORD attributes = GetFileAttributesW(dir.c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_NE(attributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
  }
  for (const std::wstring& dir : {settings.stateDir, settings.spoolDir, settings.rejectedDir}) {
    SCOPED_TRACE(toUtf8(dir));
    expectProtected(dir);
  }
  // The product folder keeps the default security inherited from %ProgramData%, which lets
  // everyone read.
  EXPECT_NE(daclSddl(productDir).find(L";;;WD)"), std::wstring::npos)
      << toUtf8(daclSddl(productDir));
}

TEST_F(StateDirFixture, ExtraEntryOnTheSpoolIsGoneAtTheNextPrepare) {
  ASSERT_TRUE(prepareStateDirectories());
  // Read access for everyone, the entry that Wine can show as well as Windows.
  ASSERT_TRUE(setDacl(settings.spoolDir, L"D:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FR;;;WD)"));
  ASSERT_NE(daclSddl(settings.spoolDir).find(L";;;WD)"), std::wstring::npos);
  ASSERT_TRUE(test::writeFile(settings.spoolDir + L"\\kept.bef", "spooled"));

  ASSERT_TRUE(prepareStateDirectories());
  expectProtected(settings.spoolDir);
  EXPECT_EQ(test::readFile(settings.spoolDir + L"\\kept.bef"), "spooled")
      << "re-protecting leaves the spool's content alone";
}

// A file where a state directory belongs could never hold the spool: the start fails, and
// the file is left as it was.
TEST_F(StateDirFixture, FileWhereADirectoryBelongsFailsAndIsLeftAlone) {
  const std::wstring* places[] = {&settings.stateDir, &settings.spoolDir, &settings.rejectedDir};
  for (const std::wstring* place : places) {
    SCOPED_TRACE(toUtf8(*place));
    test::removeTree(settings.stateDir);
    ASSERT_TRUE(createDirectoryTree(place == &settings.stateDir ? productDir : settings.stateDir));
    ASSERT_TRUE(test::writeFile(*place, "not a directory"));
    const std::wstring before = daclSddl(*place);

    EXPECT_FALSE(prepareStateDirectories());
    EXPECT_EQ(test::readFile(*place), "not a directory");
    EXPECT_EQ(GetFileAttributesW(place->c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
    EXPECT_EQ(daclSddl(*place), before);
  }
}

TEST(CreateProtectedDirectory, MissingParentFails) {
  TempDir dir;
  EXPECT_FALSE(createProtectedDirectory(dir / L"no-parent\\state"));
  EXPECT_FALSE(test::exists(dir / L"no-parent"));
}

TEST(CreateDirectoryTree, Table) {
  TempDir dir;
  ASSERT_TRUE(test::writeFile(dir / L"file", "x"));
  struct Case {
    const char* name;
    std::wstring path;
    bool expected;
  };
  const Case cases[] = {
      {"new nested path", dir / L"a\\b\\c", true},
      {"forward slashes", dir / L"d/e/f", true},
      {"existing directory", dir.path, true},
      {"existing file", dir / L"file", false},
      {"below a file", dir / L"file\\sub", false},
      {"empty path", L"", false},
      {"drive root", L"C:\\", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(createDirectoryTree(c.path), c.expected);
  }
  EXPECT_NE(GetFileAttributesW((dir / L"a\\b\\c").c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
  EXPECT_NE(GetFileAttributesW((dir / L"d\\e\\f").c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
}

}  // namespace
}  // namespace riz
