// The engine's deadlines and failure counters, and the rules that move them. Every rule
// takes the current time as an argument, so the schedule can be driven by any clock.
#pragma once
#include <windows.h>

#include <cstdint>

namespace riz {

constexpr uint64_t kDueAtFirstPass = 1;             // a deadline of 1 is due on the first pass
constexpr uint64_t kWatchRetryAfterFailMs = 10000;  // after a failed open, from the pass start
constexpr uint64_t kWatchRetryAfterLossMs = 5000;   // after a lost watch, from the loss
constexpr uint64_t kCandidateCheckMs = 250;         // pending candidates are looked at this often
constexpr DWORD kMaxWaitStepMs = 0x7FFFFFFF;        // a farther deadline is waited for in steps

// Deadlines in ms since 1970 (nowMs scale); due when now >= deadline.
struct Schedule {
  uint64_t scanDueMs = kDueAtFirstPass;
  uint64_t watchReopenDueMs = kDueAtFirstPass;  // consulted only while no watch is open
  uint64_t drainDueMs = kDueAtFirstPass;        // 0: no drain scheduled
  uint64_t outboxDueMs = kDueAtFirstPass;       // consulted only while pollSeconds > 0
  int32_t drainFailures = 0;
  int32_t outboxFailures = 0;
};

// True when a deadline has come: now >= dueMs, unsigned.
bool isDue(uint64_t now, uint64_t dueMs);

// True when the watch is closed and its reopen deadline has come.
bool watchReopenDue(const Schedule& s, bool watchOpen, uint64_t now);

// A failed open: the next try 10 s after the start of the pass that tried.
void noteWatchOpenFailed(Schedule& s, uint64_t passStartMs);

// A lost watch: the next open 5 s after the loss.
void noteWatchLost(Schedule& s, uint64_t now);

// The system dropped changes: the next pass scans the whole directory.
void noteChangesLost(Schedule& s, uint64_t now);

// True when the full scan is due, or the watch has just been opened.
bool scanDue(const Schedule& s, uint64_t now, bool watchJustOpened);

// After a full scan: the next one scanSeconds after the start of this pass.
void noteScanDone(Schedule& s, uint64_t passStartMs, int32_t scanSeconds);

// A pass captured a file: an idle drain becomes due now; a pending back-off stays.
void noteCaptured(Schedule& s, uint64_t now);

// True when a drain is scheduled and due.
bool drainDue(const Schedule& s, uint64_t now);

// After a drain pass: completed makes the drain idle and clears the failures; a deferral
// schedules the next pass after backoffDelayMs (advancing drainFailures).
void noteDrainResult(Schedule& s, bool completed, uint64_t now);

// True when the outbox is on (pollSeconds > 0) and its poll is due.
bool outboxDue(const Schedule& s, uint64_t now, int32_t pollSeconds);

// How long the engine may sleep at now: until the earliest of the scan, the outbox (when
// on), the drain (when scheduled), the watch reopen (when closed), and while candidates are
// pending now + 250 ms or the moment the next one may be stable (candidateDueMs, 0 = none),
// whichever comes first. 0 when something is already due; never above kMaxWaitStepMs.
DWORD sleepTimeoutMs(const Schedule& s, uint64_t now, bool watchOpen, bool haveCandidates,
                     uint64_t candidateDueMs, int32_t pollSeconds);

}  // namespace riz
