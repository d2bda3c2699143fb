#include "config/text.h"

#include <gtest/gtest.h>

namespace riz {
namespace {

TEST(Utf8, RoundTripsAndReplacesMalformedInput) {
  struct Case {
    const char* name;
    std::wstring wide;
    std::string utf8;
  };
  const Case cases[] = {
      {"empty", L"", ""},
      {"ascii", L"C:\\Import", "C:\\Import"},
      {"umlauts", L"L\u00E4uft \u00DCberweisung \u00DF",
       "L\xC3\xA4uft \xC3\x9C"
       "berweisung \xC3\x9F"},
      {"euro sign", L"\u20AC", "\xE2\x82\xAC"},
      {"surrogate pair", L"\xD83D\xDE00", "\xF0\x9F\x98\x80"},
      {"embedded zero", std::wstring(L"a\0b", 3), std::string("a\0b", 3)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(toUtf8(c.wide), c.utf8);
    EXPECT_EQ(fromUtf8(c.utf8), c.wide);
  }
}

TEST(Utf8, MalformedInputBecomesReplacementCharacter) {
  EXPECT_EQ(toUtf8(std::wstring(L"a\xD800z")), "a\xEF\xBF\xBDz") << "unpaired surrogate";
  EXPECT_EQ(fromUtf8("a\xFFz"), L"a\xFFFDz") << "invalid byte";
  EXPECT_EQ(fromUtf8("\xC3"), L"\xFFFD") << "cut sequence";
}

}  // namespace
}  // namespace riz
