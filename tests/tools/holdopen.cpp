// Test helper: holds a file open for writing (sharing only reading), as a writer that has
// not finished would. Usage: holdopen <path> <release-path>. Prints "held" once the handle is
// open and lets go as soon as <release-path> exists (after 60 s at the latest). Exit code 0,
// or 1 when the file cannot be opened.
#include <windows.h>

#include <cstdio>

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
  for (int i = 0; i < 1200 && GetFileAttributesW(argv[2]) == INVALID_FILE_ATTRIBUTES; ++i)
    Sleep(50);
  CloseHandle(file);
  return 0;
}
