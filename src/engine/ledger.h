// The capture ledger: captured.tsv and the in-memory record of every captured file version.
#pragma once
#include <cstdint>
#include <map>
#include <set>
#include <string>

namespace riz {

// Every captured version (ledgerKey), process-wide; grows by one per capture, never pruned.
extern std::set<std::wstring> capturedKeys;

// The SHA-256 text recorded for each captured version.
extern std::map<std::wstring, std::string> capturedSha256;

// The identity of a file version: "<name>|<size>|<lastWriteMs>", decimals without padding.
std::wstring ledgerKey(const std::wstring& name, uint64_t size, uint64_t lastWriteMs);

// Fills both tables from settings.ledgerPath. An unreadable ledger loads nothing, silently;
// malformed lines (fewer than three TABs) are skipped; the last digest of a key wins.
void loadLedger();

// Records a capture in both tables and appends "name\tsize\tlastWriteMs\tsha256\trecordedAt\n"
// to the ledger, flushed. A ledger that cannot be opened loses the line without a log line.
void appendLedger(const std::wstring& name, uint64_t size, uint64_t lastWriteMs,
                  const std::string& sha256);

}  // namespace riz
