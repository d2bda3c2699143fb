// UTF-16 <-> UTF-8 conversions shared by every subsystem.
#pragma once
#include <string>
#include <string_view>

namespace riz {

// UTF-8 form of a UTF-16 text; unpaired surrogates become U+FFFD. Empty in, empty out.
std::string toUtf8(std::wstring_view text);

// UTF-16 form of a UTF-8 text; invalid sequences become U+FFFD. Empty in, empty out.
std::wstring fromUtf8(std::string_view text);

}  // namespace riz
