// Capture of a stable candidate: one read, re-checked, hashed and written into the spool.
#pragma once
#include <cstdint>
#include <string>

#include "engine/candidates.h"

namespace riz {

enum class CaptureOutcome {
  Captured,  // the spool file exists and the ledger has the version
  Vanished,  // the file was gone when it was opened
  Retry,     // not now; the entry holds the observation to wait on
};

// Advanced by every capture that reaches the spool write; 0 at process start.
extern uint32_t captureCounter;

// "%013llu_%013llu_%04u_": capture time, last-write time, counter mod 10000.
std::wstring formatSpoolPrefix(uint64_t captureMs, uint64_t lastWriteMs, uint32_t counter);

// Reads path (keeping writers out), and when it is still the version in entry writes it to
// spoolDir as formatSpoolPrefix + name, appends the ledger and logs "captured ...". On Retry
// the entry is set so that the next attempt waits another stableMs of quiet.
[[nodiscard]] CaptureOutcome captureCandidate(const std::wstring& name, const std::wstring& path,
                                              Candidate& entry, uint64_t now);

}  // namespace riz
