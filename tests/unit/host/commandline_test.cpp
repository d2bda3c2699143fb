#include "host/commandline.h"

#include <gtest/gtest.h>

#include <vector>

namespace riz {
namespace {

TEST(OptionValue, FirstOccurrenceWithASuccessor) {
  struct Case {
    const char* name;
    std::vector<std::wstring> args;  // after the program path
    const wchar_t* option;
    const wchar_t* expected;
  };
  const Case cases[] = {
      {"value follows", {L"--set-secret-file", L"C:\\s.txt"}, L"--set-secret-file", L"C:\\s.txt"},
      {"option is last", {L"--check", L"--set-secret-file"}, L"--set-secret-file", L""},
      {"absent", {L"--check"}, L"--token-url", L""},
      {"no arguments", {}, L"--check", L""},
      {"first occurrence wins", {L"--client-id", L"a", L"--client-id", L"b"}, L"--client-id", L"a"},
      {"an option name is a value too",
       {L"--set-secret-file", L"--check"},
       L"--set-secret-file",
       L"--check"},
      {"last occurrence has no successor, an earlier one has",
       {L"--token-url", L"--token-url"},
       L"--token-url",
       L"--token-url"},
      {"empty value", {L"--token-url", L"", L"--check"}, L"--token-url", L""},
      {"letter case counts", {L"--Token-Url", L"x"}, L"--token-url", L""},
      {"the program path is not searched", {L"x"}, L"prog.exe", L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::wstring> storage{L"prog.exe"};
    storage.insert(storage.end(), c.args.begin(), c.args.end());
    std::vector<wchar_t*> argv;
    for (std::wstring& a : storage) argv.push_back(a.data());
    argv.push_back(nullptr);
    EXPECT_EQ(optionValue(static_cast<int>(storage.size()), argv.data(), c.option), c.expected);
  }
}

}  // namespace
}  // namespace riz
