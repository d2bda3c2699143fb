#include "server/json.h"

#include <limits>

namespace riz {
namespace {

bool isJsonSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

std::optional<size_t> findJsonValue(std::string_view body, std::string_view key) {
  std::string pattern;
  pattern.reserve(key.size() + 2);
  pattern += '"';
  pattern += key;
  pattern += '"';
  const size_t at = body.find(pattern);
  if (at == std::string_view::npos) return std::nullopt;
  const size_t colon = body.find(':', at + pattern.size());
  if (colon == std::string_view::npos) return std::nullopt;
  size_t pos = colon + 1;
  while (pos < body.size() && isJsonSpace(body[pos])) ++pos;
  return pos;
}

std::string jsonStringField(std::string_view body, std::string_view key) {
  std::string value;
  const std::optional<size_t> found = findJsonValue(body, key);
  if (!found || *found >= body.size() || body[*found] != '"') return value;
  for (size_t i = *found + 1; i < body.size(); ++i) {
    const char c = body[i];
    if (c == '"') break;
    if (c == '\\' && i + 1 < body.size()) {
      const char e = body[++i];
      value += e == 'n' ? '\n' : e == 't' ? '\t' : e == 'r' ? '\r' : e;
      continue;
    }
    value += c;
  }
  return value;
}

int64_t jsonIntField(std::string_view body, std::string_view key, int64_t defaultValue) {
  const std::optional<size_t> found = findJsonValue(body, key);
  if (!found || *found >= body.size()) return defaultValue;
  size_t i = *found;
  if (!isDigit(body[i]) && body[i] != '-') return defaultValue;
  const bool negative = body[i] == '-';
  if (negative) ++i;
  // Accumulated towards the sign so that the smallest value is reachable; saturates on overflow.
  int64_t value = 0;
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
  constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
  for (; i < body.size() && isDigit(body[i]); ++i) {
    const int digit = body[i] - '0';
    if (negative) {
      if (value < (kMin + digit) / 10) return kMin;
      value = value * 10 - digit;
    } else {
      if (value > (kMax - digit) / 10) return kMax;
      value = value * 10 + digit;
    }
  }
  return value;
}

}  // namespace riz
