#include "diag/log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

#include "fileutil/unique.h"

namespace riz {
namespace {

constexpr uint64_t kUnixEpochAsFileTime = 116444736000000000ULL;
constexpr size_t kMessageBytes = 1024;  // a message is cut to 1023 bytes
constexpr size_t kLineBytes = 1200;

struct LogState {
  std::wstring path;
  bool consoleEcho = false;
  CRITICAL_SECTION lock;
  std::atomic<bool> lockReady{false};  // read without the lock by logLine
};
LogState logState;
INIT_ONCE logLockOnce = INIT_ONCE_STATIC_INIT;

BOOL CALLBACK initLogLock(PINIT_ONCE, PVOID, PVOID*) {
  InitializeCriticalSection(&logState.lock);
  return TRUE;
}

}  // namespace

void initLog(const std::wstring& path, bool consoleEcho) {
  InitOnceExecuteOnce(&logLockOnce, initLogLock, nullptr, nullptr);
  EnterCriticalSection(&logState.lock);
  logState.path = path;
  logState.consoleEcho = consoleEcho;
  logState.lockReady = true;
  LeaveCriticalSection(&logState.lock);
}

void logLine(const char* format, ...) {
  if (!logState.lockReady) return;
  char message[kMessageBytes];
  va_list args;
  va_start(args, format);
  int m = vsnprintf(message, sizeof message, format, args);
  va_end(args);
  if (m < 0) return;

  SYSTEMTIME t;
  GetLocalTime(&t);
  char line[kLineBytes];
  int n = snprintf(line, sizeof line, "%04u-%02u-%02u %02u:%02u:%02u.%03u [%lu] %s\r\n",
                   unsigned{t.wYear}, unsigned{t.wMonth}, unsigned{t.wDay}, unsigned{t.wHour},
                   unsigned{t.wMinute}, unsigned{t.wSecond}, unsigned{t.wMilliseconds},
                   static_cast<unsigned long>(GetCurrentProcessId()), message);
  if (n < 0) return;
  DWORD length = static_cast<DWORD>(n) < kLineBytes ? static_cast<DWORD>(n) : kLineBytes - 1;

  EnterCriticalSection(&logState.lock);
  if (!logState.path.empty()) {
    WIN32_FILE_ATTRIBUTE_DATA info;
    if (GetFileAttributesExW(logState.path.c_str(), GetFileExInfoStandard, &info)) {
      uint64_t size = (uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
      if (size > kLogRotateBytes) {
        // A failed rename is tried again with the next line; the line still gets written.
        MoveFileExW(logState.path.c_str(), (logState.path + L".old").c_str(),
                    MOVEFILE_REPLACE_EXISTING);
      }
    }
    UniqueHandle file(CreateFileW(logState.path.c_str(), FILE_APPEND_DATA,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file) {
      DWORD written = 0;
      WriteFile(file.get(), line, length, &written, nullptr);
    }
    if (logState.consoleEcho) {
      fwrite(line, 1, length, stdout);
      fflush(stdout);
    }
  }
  LeaveCriticalSection(&logState.lock);
}

uint64_t fileTimeToMs(const FILETIME& ft) {
  uint64_t v = (uint64_t{ft.dwHighDateTime} << 32) | ft.dwLowDateTime;
  return (v - kUnixEpochAsFileTime) / 10000;
}

uint64_t nowMs() {
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  return fileTimeToMs(ft);
}

std::string isoTimestampUtc(uint64_t ms) {
  uint64_t v = ms * 10000 + kUnixEpochAsFileTime;
  FILETIME ft{static_cast<DWORD>(v), static_cast<DWORD>(v >> 32)};
  SYSTEMTIME t{};
  FileTimeToSystemTime(&ft, &t);
  char buffer[32];
  snprintf(buffer, sizeof buffer, "%04u-%02u-%02uT%02u:%02u:%02u.%03uZ", unsigned{t.wYear},
           unsigned{t.wMonth}, unsigned{t.wDay}, unsigned{t.wHour}, unsigned{t.wMinute},
           unsigned{t.wSecond}, unsigned{t.wMilliseconds});
  return buffer;
}

}  // namespace riz
