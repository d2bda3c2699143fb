// The command line: one executable is the service and its own administration tool.
#pragma once
#include <string>

namespace riz {

// Dispatches on the arguments (argv[0] is the program) and returns the process exit code.
int runCommandLine(int argc, wchar_t** argv);

// The argument after the first occurrence of option (from argv[1] on), or empty.
std::wstring optionValue(int argc, wchar_t** argv, const wchar_t* option);

// printf-style UTF-8 output to standard output, bytes unchanged (binary mode).
void consolePrint(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// Puts standard output into binary mode so that "\r\n" is written as two bytes.
void setBinaryStdout();

}  // namespace riz
