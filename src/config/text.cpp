#include "config/text.h"

#include <windows.h>

#include <climits>

namespace riz {

std::string toUtf8(std::wstring_view text) {
  if (text.empty() || text.size() > INT_MAX) return {};
  const int len = static_cast<int>(text.size());
  int need = WideCharToMultiByte(CP_UTF8, 0, text.data(), len, nullptr, 0, nullptr, nullptr);
  if (need <= 0) return {};
  std::string out(static_cast<size_t>(need), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), len, out.data(), need, nullptr, nullptr);
  return out;
}

std::wstring fromUtf8(std::string_view text) {
  if (text.empty() || text.size() > INT_MAX) return {};
  const int len = static_cast<int>(text.size());
  int need = MultiByteToWideChar(CP_UTF8, 0, text.data(), len, nullptr, 0);
  if (need <= 0) return {};
  std::wstring out(static_cast<size_t>(need), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), len, out.data(), need);
  return out;
}

}  // namespace riz
