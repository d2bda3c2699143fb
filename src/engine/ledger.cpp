#include "engine/ledger.h"

#include <windows.h>

#include <cstdlib>

#include "config/settings.h"
#include "config/text.h"
#include "diag/log.h"
#include "fileutil/fileutil.h"
#include "fileutil/unique.h"

namespace riz {

std::set<std::wstring> capturedKeys;
std::map<std::wstring, std::string> capturedSha256;

namespace {

// strtoull over one field only, so that an empty field reads as 0 instead of running on
// into the next field or line.
uint64_t parseDecimalField(std::string_view field) {
  const std::string text(field);
  return std::strtoull(text.c_str(), nullptr, 10);
}

void loadLine(std::string_view line) {
  const size_t tab1 = line.find('\t');
  if (tab1 == std::string_view::npos) return;
  const size_t tab2 = line.find('\t', tab1 + 1);
  if (tab2 == std::string_view::npos) return;
  const size_t tab3 = line.find('\t', tab2 + 1);
  if (tab3 == std::string_view::npos) return;
  const size_t shaEnd = line.find('\t', tab3 + 1);

  const std::wstring name = fromUtf8(line.substr(0, tab1));
  const uint64_t size = parseDecimalField(line.substr(tab1 + 1, tab2 - tab1 - 1));
  const uint64_t lastWriteMs = parseDecimalField(line.substr(tab2 + 1, tab3 - tab2 - 1));
  const std::string_view sha = shaEnd == std::string_view::npos
                                   ? line.substr(tab3 + 1)
                                   : line.substr(tab3 + 1, shaEnd - tab3 - 1);
  const std::wstring key = ledgerKey(name, size, lastWriteMs);
  capturedKeys.insert(key);
  capturedSha256[key] = std::string(sha);
}

}  // namespace

std::wstring ledgerKey(const std::wstring& name, uint64_t size, uint64_t lastWriteMs) {
  return name + L"|" + std::to_wstring(size) + L"|" + std::to_wstring(lastWriteMs);
}

void loadLedger() {
  std::string content;
  if (readWholeFile(settings.ledgerPath, FILE_SHARE_READ, content) != ReadResult::Ok) return;
  const std::string_view text(content);
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    loadLine(text.substr(start, end - start));
    start = end + 1;
  }
}

void appendLedger(const std::wstring& name, uint64_t size, uint64_t lastWriteMs,
                  const std::string& sha256) {
  const std::wstring key = ledgerKey(name, size, lastWriteMs);
  capturedKeys.insert(key);
  capturedSha256[key] = sha256;

  std::string line = toUtf8(name);
  line += '\t';
  line += std::to_string(size);
  line += '\t';
  line += std::to_string(lastWriteMs);
  line += '\t';
  line += sha256;
  line += '\t';
  line += isoTimestampUtc(nowMs());
  line += '\n';

  // FILE_APPEND_DATA alone puts every write at the end, whoever else appends.
  UniqueHandle file(CreateFileW(settings.ledgerPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ,
                                nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return;
  DWORD written = 0;
  WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  FlushFileBuffers(file.get());
}

}  // namespace riz
