// A fresh temporary directory, the settings and the log pointed into it, restored afterwards.
#pragma once
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "config/settings.h"
#include "diag/log.h"
#include "fileutil/fileutil.h"
#include "fileutil/unique.h"

namespace riz::uploadtest {

inline void removeTree(const std::wstring& dir) {
  WIN32_FIND_DATAW entry{};
  UniqueFind find(FindFirstFileW((dir + L"\\*").c_str(), &entry));
  if (find) {
    do {
      std::wstring name = entry.cFileName;
      if (name == L"." || name == L"..") continue;
      std::wstring path = dir + L"\\" + name;
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        removeTree(path);
      } else {
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(path.c_str());
      }
    } while (FindNextFileW(find.get(), &entry));
  }
  RemoveDirectoryW(dir.c_str());
}

class UploadDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = settings;
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    static unsigned serial = 0;
    root_ = std::wstring(temp) + L"riz-upload-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(++serial);
    removeTree(root_);
    ASSERT_TRUE(CreateDirectoryW(root_.c_str(), nullptr));
    settings.importDir = root_ + L"\\import";
    settings.spoolDir = root_ + L"\\spool";
    settings.rejectedDir = root_ + L"\\rejected";
    CreateDirectoryW(settings.importDir.c_str(), nullptr);
    CreateDirectoryW(settings.spoolDir.c_str(), nullptr);
    CreateDirectoryW(settings.rejectedDir.c_str(), nullptr);
    logPath_ = root_ + L"\\service.log";
    initLog(logPath_, false);
  }
  void TearDown() override {
    initLog(L"", false);
    settings = saved_;
    removeTree(root_);
  }

  std::wstring importPath(const std::wstring& name) const {
    return settings.importDir + L"\\" + name;
  }
  std::wstring spoolPath(const std::wstring& name) const {
    return settings.spoolDir + L"\\" + name;
  }

  static void writeFile(const std::wstring& path, const std::string& bytes) {
    UniqueHandle h(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(h);
    DWORD written = 0;
    ASSERT_TRUE(
        WriteFile(h.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
  }
  static bool exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
  }
  std::string logText() const {
    std::string text;
    if (readWholeFile(logPath_, FILE_SHARE_READ | FILE_SHARE_WRITE, text) != ReadResult::Ok) {
      return {};
    }
    return text;
  }

  Settings saved_;
  std::wstring root_;
  std::wstring logPath_;
};

}  // namespace riz::uploadtest
