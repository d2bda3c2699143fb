#include "server/json.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

namespace riz {
namespace {

using namespace std::string_literals;

struct StringCase {
  const char* name;
  std::string body;
  const char* key;
  std::string expected;
};

TEST(JsonStringField, ReadsLikeTheServiceNeedsIncludingItsQuirks) {
  const StringCase cases[] = {
      {"plain", R"({"access_token":"abc","expires_in":300})", "access_token", "abc"},
      {"blanks around the colon", "{\"a\" \t\r\n:\t\r\n \"x y\"}", "a", "x y"},
      {"absent key", R"({"b":"x"})", "a", ""},
      {"key match is case-sensitive", R"({"A":"x"})", "a", ""},
      {"empty body", "", "a", ""},
      {"nested object before the top level wins", R"({"o":{"a":"inner"},"a":"outer"})", "a",
       "inner"},
      {"key inside an array", R"({"l":[{"a":"in-array"}],"a":"top"})", "a", "in-array"},
      {"key inside another string with real quotes", R"({"s":"say \"a\" ok","a":"top"})", "a",
       "top"},
      {"key found as a string value reads the next value", R"({"s":"x","a":"y"})", "x", "y"},
      {"key with escaped quotes inside a string is not found", R"({"s":"say \"x\" ok","a":"y"})",
       "x", ""},
      {"comma instead of colon takes the next value", R"({"a","b":"second"})", "a", "second"},
      {"no colon after the key", R"({"a" "x"})", "a", ""},
      {"escapes n t r", R"({"a":"1\n2\t3\r4"})", "a", "1\n2\t3\r4"},
      {"escaped quote backslash slash", R"({"a":"q\"b\\s\/"})", "a", "q\"b\\s/"},
      {"backspace and form feed become letters", R"({"a":"\b\f"})", "a", "bf"},
      {"unicode escape keeps its digits", R"({"a":"\u00e4"})", "a", "u00e4"},
      {"raw control and UTF-8 bytes copied", "{\"a\":\"\x01\xC3\xA4\"}", "a", "\x01\xC3\xA4"},
      {"embedded NUL copied", "{\"a\":\"x\0y\"}"s, "a", "x\0y"s},
      {"number is not a string", R"({"a":5})", "a", ""},
      {"true is not a string", R"({"a":true})", "a", ""},
      {"null is not a string", R"({"a":null})", "a", ""},
      {"object is not a string", R"({"a":{"b":"c"}})", "a", ""},
      {"array is not a string", R"({"a":["x"]})", "a", ""},
      {"body ends after the colon", R"({"a":)", "a", ""},
      {"body ends after colon and blanks", "{\"a\": \r\n", "a", ""},
      {"unterminated string runs to the end", R"({"a":"open end)", "a", "open end"},
      {"backslash as the last byte is kept", "{\"a\":\"x\\", "a", "x\\"},
      {"empty string", R"({"a":""})", "a", ""},
  };
  for (const StringCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(jsonStringField(c.body, c.key), c.expected);
  }
}

struct IntCase {
  const char* name;
  std::string body;
  int64_t expected;
};

TEST(JsonIntField, ReadsLikeTheServiceNeedsIncludingItsQuirks) {
  constexpr int64_t kDefault = 60;
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
  constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
  const IntCase cases[] = {
      {"number", R"({"expires_in":300})", 300},
      {"number as string gives the default", R"({"expires_in":"300"})", kDefault},
      {"fraction is cut", R"({"expires_in":3.9})", 3},
      {"exponent stops the digits", R"({"expires_in":1e3})", 1},
      {"negative", R"({"expires_in":-20})", -20},
      {"plus sign gives the default", R"({"expires_in":+5})", kDefault},
      {"leading zeros", R"({"expires_in":007})", 7},
      {"minus then letter gives 0", R"({"expires_in":-x})", 0},
      {"minus at the end gives 0", R"({"expires_in":-)", 0},
      {"true gives the default", R"({"expires_in":true})", kDefault},
      {"absent", R"({"other":1})", kDefault},
      {"empty body", "", kDefault},
      {"ends after colon", R"({"expires_in":  )", kDefault},
      {"largest value", R"({"expires_in":9223372036854775807})", kMax},
      {"beyond the largest saturates", R"({"expires_in":9223372036854775808})", kMax},
      {"far beyond saturates", R"({"expires_in":99999999999999999999999999})", kMax},
      {"smallest value", R"({"expires_in":-9223372036854775808})", kMin},
      {"below the smallest saturates", R"({"expires_in":-9223372036854775809})", kMin},
      {"nested first", R"({"x":{"expires_in":5},"expires_in":300})", 5},
      {"blanks before the value", "{\"expires_in\":\r\n\t 42}", 42},
  };
  for (const IntCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(jsonIntField(c.body, "expires_in", kDefault), c.expected);
  }
}

TEST(FindJsonValue, PointsAtTheFirstByteAfterColonAndBlanks) {
  EXPECT_EQ(findJsonValue(R"({"a": 1})", "a"), std::optional<size_t>(6));
  EXPECT_EQ(findJsonValue(R"({"a":  )", "a"), std::optional<size_t>(7));  // the body's length
  EXPECT_EQ(findJsonValue(R"({"a" 1})", "a"), std::nullopt);
  EXPECT_EQ(findJsonValue(R"({"b":1})", "a"), std::nullopt);
}

}  // namespace
}  // namespace riz
