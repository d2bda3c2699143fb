// A small reader for top-level values in the server's JSON answers (no full parser).
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace riz {

// Position of the first byte of the value for "key" (first occurrence wins), or none.
std::optional<size_t> findJsonValue(std::string_view body, std::string_view key);

// The decoded string value of key; empty when absent or not a string.
std::string jsonStringField(std::string_view body, std::string_view key);

// The integer value of key (saturating); defaultValue when absent or not a number.
int64_t jsonIntField(std::string_view body, std::string_view key, int64_t defaultValue);

}  // namespace riz
