#include "engine/schedule.h"

#include <algorithm>

#include "engine/engine.h"

namespace riz {

bool isDue(uint64_t now, uint64_t dueMs) { return now >= dueMs; }

bool watchReopenDue(const Schedule& s, bool watchOpen, uint64_t now) {
  return !watchOpen && isDue(now, s.watchReopenDueMs);
}

void noteWatchOpenFailed(Schedule& s, uint64_t passStartMs) {
  s.watchReopenDueMs = passStartMs + kWatchRetryAfterFailMs;
}

void noteWatchLost(Schedule& s, uint64_t now) { s.watchReopenDueMs = now + kWatchRetryAfterLossMs; }

void noteChangesLost(Schedule& s, uint64_t now) { s.scanDueMs = now; }

bool scanDue(const Schedule& s, uint64_t now, bool watchJustOpened) {
  return watchJustOpened || isDue(now, s.scanDueMs);
}

void noteScanDone(Schedule& s, uint64_t passStartMs, int32_t scanSeconds) {
  // scanSeconds is at least 10 after loadSettings; a negative value is not widened into a
  // deadline in the past.
  s.scanDueMs = passStartMs + static_cast<uint64_t>(std::max<int32_t>(scanSeconds, 0)) * 1000;
}

void noteCaptured(Schedule& s, uint64_t now) {
  if (s.drainDueMs == 0) s.drainDueMs = now;
}

bool drainDue(const Schedule& s, uint64_t now) {
  return s.drainDueMs != 0 && isDue(now, s.drainDueMs);
}

void noteDrainResult(Schedule& s, bool completed, uint64_t now) {
  if (completed) {
    s.drainFailures = 0;
    s.drainDueMs = 0;
  } else {
    s.drainDueMs = now + backoffDelayMs(s.drainFailures);
  }
}

bool outboxDue(const Schedule& s, uint64_t now, int32_t pollSeconds) {
  return pollSeconds > 0 && isDue(now, s.outboxDueMs);
}

DWORD sleepTimeoutMs(const Schedule& s, uint64_t now, bool watchOpen, bool haveCandidates,
                     uint64_t candidateDueMs, int32_t pollSeconds) {
  uint64_t d = s.scanDueMs;
  if (pollSeconds > 0) d = std::min(d, s.outboxDueMs);
  if (s.drainDueMs != 0) d = std::min(d, s.drainDueMs);
  if (!watchOpen) d = std::min(d, s.watchReopenDueMs);
  if (haveCandidates) {
    d = std::min(d, now + kCandidateCheckMs);
    if (candidateDueMs != 0) d = std::min(d, candidateDueMs);
  }
  const uint64_t wait = now < d ? d - now : 0;
  return static_cast<DWORD>(std::min<uint64_t>(wait, kMaxWaitStepMs));
}

}  // namespace riz
