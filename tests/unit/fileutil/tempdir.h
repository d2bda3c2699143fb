// Test support: a fresh directory per test and small file helpers, all real Win32 under Wine.
#pragma once
#include <windows.h>

#include <string>
#include <string_view>

#include "fileutil/unique.h"

namespace riz::test {

// Deletes a file or a whole directory tree; missing paths are fine.
inline void removeTree(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(path.c_str());
    return;
  }
  WIN32_FIND_DATAW entry;
  {
    UniqueFind find(FindFirstFileW((path + L"\\*").c_str(), &entry));
    if (find) {
      do {
        std::wstring name = entry.cFileName;
        if (name != L"." && name != L"..") removeTree(path + L"\\" + name);
      } while (FindNextFileW(find.get(), &entry));
    }
  }
  RemoveDirectoryW(path.c_str());
}

// A new empty directory under %TEMP%, removed with everything in it at the end of its scope.
struct TempDir {
  std::wstring path;
  TempDir() {
    static LONG counter = 0;
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    path = std::wstring(base) + L"riz-h1-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
           std::to_wstring(InterlockedIncrement(&counter));
    removeTree(path);
    CreateDirectoryW(path.c_str(), nullptr);
  }
  ~TempDir() { removeTree(path); }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::wstring operator/(const std::wstring& name) const { return path + L"\\" + name; }
};

// Writes bytes to path, replacing any file there. True on success.
inline bool writeFile(const std::wstring& path, std::string_view bytes) {
  UniqueHandle h(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!h) return false;
  DWORD written = 0;
  BOOL ok = WriteFile(h.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  return ok && written == bytes.size();
}

// The whole content of path, or "<missing>" when it cannot be opened.
inline std::string readFile(const std::wstring& path) {
  UniqueHandle h(CreateFileW(path.c_str(), GENERIC_READ,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!h) return "<missing>";
  std::string out;
  static char buffer[65536];
  DWORD got = 0;
  while (ReadFile(h.get(), buffer, sizeof buffer, &got, nullptr) && got > 0)
    out.append(buffer, got);
  return out;
}

inline bool exists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Makes path a file of exactly size bytes (sparse where the file system allows).
inline bool makeFileOfSize(const std::wstring& path, long long size) {
  UniqueHandle h(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!h) return false;
  LARGE_INTEGER at;
  at.QuadPart = size;
  return SetFilePointerEx(h.get(), at, nullptr, FILE_BEGIN) && SetEndOfFile(h.get());
}

}  // namespace riz::test
