// Candidate files in the import directory: nomination, the full scan, the stability check.
#pragma once
#include <cstdint>
#include <map>
#include <string>

#include "diag/log.h"

namespace riz {

// One observed file. unchangedSinceMs is when (size, lastWriteMs) was first seen; 0 = not
// observed yet.
struct Candidate {
  uint64_t size = 0;
  uint64_t lastWriteMs = 0;
  uint64_t unchangedSinceMs = 0;
};

// Name (as listed or notified, no directory) to candidate, in UTF-16 code-unit order.
extern std::map<std::wstring, Candidate> candidates;

// True when the text from the name's last "." on equals a configured extension, ignoring case.
bool hasWatchedExtension(const std::wstring& name);

// Adds the name with a fresh entry when it has a watched extension and is not tracked yet.
void trackCandidate(const std::wstring& name);

// True when dir holds a file whose name ends in "_" + name (a spool or rejected copy of it).
bool spoolFileExists(const std::wstring& dir, const std::wstring& name);

// Lists the import directory: nominates every watched file whose version is not in the
// ledger, and with deletePdf offers captured PDFs that have no spool or rejected copy left
// to disposeAfterUpload. A failed listing does nothing.
void scanImportDir();

// Looks at every candidate once, in key order, and captures the stable ones. Returns true
// when at least one file was captured. clock supplies the time of each observation.
bool checkCandidates(uint64_t (*clock)() = nowMs);

// The earliest moment at which an observed candidate of non-zero size may be stable; 0 when
// none can become stable without a change.
uint64_t nextCandidateDueMs();

}  // namespace riz
