// A fresh import, spool and rejected directory and ledger per test, with the settings, the
// log and the engine's process-wide tables pointed at them and restored afterwards.
#pragma once
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "config/settings.h"
#include "diag/log.h"
#include "engine/candidates.h"
#include "engine/capture.h"
#include "engine/ledger.h"
#include "fileutil/fileutil.h"
#include "fileutil/tempdir.h"
#include "fileutil/unique.h"

namespace riz::enginetest {

class EngineDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = settings;
    settings.importDir = dir_ / L"import";
    settings.spoolDir = dir_ / L"spool";
    settings.rejectedDir = dir_ / L"rejected";
    settings.ledgerPath = dir_ / L"captured.tsv";
    settings.extensions = {L".bef", L".pdf"};
    settings.stableMs = 1000;
    settings.deletePdf = false;
    ASSERT_TRUE(CreateDirectoryW(settings.importDir.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(settings.spoolDir.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(settings.rejectedDir.c_str(), nullptr));
    initLog(dir_ / L"service.log", false);
    candidates.clear();
    capturedKeys.clear();
    capturedSha256.clear();
    captureCounter = 0;
  }
  void TearDown() override {
    initLog(L"", false);
    candidates.clear();
    capturedKeys.clear();
    capturedSha256.clear();
    settings = saved_;
  }

  std::wstring importPath(const std::wstring& name) const {
    return settings.importDir + L"\\" + name;
  }

  // Writes an import file and gives it a fixed last-write time (ms since 1970).
  static void writeImport(const std::wstring& path, const std::string& bytes,
                          uint64_t lastWriteMs) {
    ASSERT_TRUE(test::writeFile(path, bytes));
    setLastWrite(path, lastWriteMs);
  }
  static void setLastWrite(const std::wstring& path, uint64_t lastWriteMs) {
    const uint64_t ticks = lastWriteMs * 10000 + 116444736000000000ULL;
    FILETIME ft{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    UniqueHandle h(CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(h);
    ASSERT_TRUE(SetFileTime(h.get(), nullptr, nullptr, &ft));
  }

  // The spool's file names, in listing order sorted, without temporary files.
  static std::vector<std::wstring> spoolNames() {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW entry;
    UniqueFind find(FindFirstFileW((settings.spoolDir + L"\\*").c_str(), &entry));
    if (!find) return names;
    do {
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
      names.push_back(entry.cFileName);
    } while (FindNextFileW(find.get(), &entry));
    std::sort(names.begin(), names.end());
    return names;
  }

  std::string logText() const { return test::readFile(dir_ / L"service.log"); }
  std::string ledgerText() const { return test::readFile(settings.ledgerPath); }

  test::TempDir dir_;
  Settings saved_;
};

}  // namespace riz::enginetest
