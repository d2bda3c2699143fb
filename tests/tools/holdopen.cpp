// Test helper: holds a file open for writing (sharing only reading) for a while, as a writer
// that has not finished would. Usage: holdopen <path> <milliseconds>. Prints "held" once the
// handle is open; exit code 0, or 1 when the file cannot be opened.
#include <windows.h>

#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 2;
  HANDLE file = CreateFileW(argv[1], GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    std::printf("open failed %lu\n", static_cast<unsigned long>(GetLastError()));
    return 1;
  }
  std::printf("held\n");
  std::fflush(stdout);
  Sleep(static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10)));
  CloseHandle(file);
  return 0;
}
