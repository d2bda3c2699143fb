#include "engine/schedule.h"

#include <gtest/gtest.h>

#include <climits>

#include "engine/engine.h"

namespace riz {
namespace {

constexpr uint64_t kT = 1700000000000;  // an arbitrary "now"

TEST(BackoffDelayMs, DoublesFromFiveSecondsToFifteenMinutesAndAdvancesTheCounter) {
  struct Case {
    int32_t failures;
    uint64_t delay;
  } cases[] = {{0, 5000},     {1, 10000},  {2, 20000},           {3, 40000},  {4, 80000},
               {5, 160000},   {6, 320000}, {7, 640000},          {8, 900000}, {9, 900000},
               {100, 900000}, {-3, 5000},  {INT_MAX - 1, 900000}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.failures);
    int32_t counter = c.failures;
    EXPECT_EQ(backoffDelayMs(counter), c.delay);
    EXPECT_EQ(counter, c.failures + 1);
  }
}

TEST(Schedule, EveryDeadlineIsDueOnTheFirstPass) {
  Schedule s;
  EXPECT_TRUE(watchReopenDue(s, false, kT));
  EXPECT_TRUE(scanDue(s, kT, false));
  EXPECT_TRUE(drainDue(s, kT));
  EXPECT_TRUE(outboxDue(s, kT, 30));
  EXPECT_FALSE(outboxDue(s, kT, 0)) << "the outbox is off with pollSeconds 0";
  EXPECT_FALSE(watchReopenDue(s, true, kT)) << "an open watch is not reopened";
}

TEST(Schedule, WatchReopensTenSecondsAfterAFailedOpenAndFiveAfterALoss) {
  Schedule s;
  noteWatchOpenFailed(s, kT);
  EXPECT_FALSE(watchReopenDue(s, false, kT + 9999));
  EXPECT_TRUE(watchReopenDue(s, false, kT + 10000));
  noteWatchLost(s, kT + 20000);
  EXPECT_FALSE(watchReopenDue(s, false, kT + 24999));
  EXPECT_TRUE(watchReopenDue(s, false, kT + 25000));
}

TEST(Schedule, ScanFollowsTheIntervalTheWatchOpeningAndLostChanges) {
  Schedule s;
  noteScanDone(s, kT, 60);
  EXPECT_EQ(s.scanDueMs, kT + 60000);
  EXPECT_FALSE(scanDue(s, kT + 59999, false));
  EXPECT_TRUE(scanDue(s, kT + 1, true)) << "a freshly opened watch always brings a scan";
  EXPECT_TRUE(scanDue(s, kT + 60000, false));
  noteChangesLost(s, kT + 5);
  EXPECT_TRUE(scanDue(s, kT + 5, false));
}

// The drain's life with a clock that the test moves: back-off on deferral, idle after a
// completed pass, a capture wakes an idle drain but never shortens a back-off.
TEST(Schedule, DrainTransitions) {
  Schedule s;
  uint64_t now = kT;
  ASSERT_TRUE(drainDue(s, now));
  noteDrainResult(s, true, now);
  EXPECT_EQ(s.drainDueMs, 0u);
  EXPECT_FALSE(drainDue(s, now + 1000000)) << "an idle drain is never due";

  noteCaptured(s, now);
  EXPECT_EQ(s.drainDueMs, now);
  EXPECT_TRUE(drainDue(s, now));

  const uint64_t expected[] = {5000,   10000,  20000,  40000,  80000,
                               160000, 320000, 640000, 900000, 900000};
  for (uint64_t delay : expected) {
    SCOPED_TRACE(delay);
    noteDrainResult(s, false, now);
    EXPECT_EQ(s.drainDueMs, now + delay);
    noteCaptured(s, now + 1);
    EXPECT_EQ(s.drainDueMs, now + delay) << "a capture does not bring a back-off forward";
    EXPECT_FALSE(drainDue(s, now + delay - 1));
    now += delay;
    EXPECT_TRUE(drainDue(s, now));
  }
  EXPECT_EQ(s.drainFailures, 10);

  noteDrainResult(s, true, now);
  EXPECT_EQ(s.drainFailures, 0);
  EXPECT_EQ(s.drainDueMs, 0u);
  noteCaptured(s, now);
  noteDrainResult(s, false, now);
  EXPECT_EQ(s.drainDueMs, now + 5000) << "after a success the next failure starts at 5 s";
}

TEST(SleepTimeoutMs, WaitsForTheEarliestDeadlineThatCounts) {
  auto schedule = [](uint64_t scan, uint64_t reopen, uint64_t drain, uint64_t outbox) {
    Schedule s;
    s.scanDueMs = scan;
    s.watchReopenDueMs = reopen;
    s.drainDueMs = drain;
    s.outboxDueMs = outbox;
    return s;
  };
  const uint64_t later = kT + 3600000;
  struct Case {
    const char* name;
    Schedule s;
    bool watchOpen;
    bool haveCandidates;
    uint64_t candidateDueMs;
    int32_t pollSeconds;
    DWORD timeout;
  } cases[] = {
      {"idle with a watch: the next scan", schedule(kT + 60000, kT, 0, kT), true, false, 0, 0,
       60000},
      {"outbox off: its deadline is ignored", schedule(later, later, 0, kT + 10), true, false, 0, 0,
       3600000},
      {"outbox on", schedule(later, later, 0, kT + 10000), true, false, 0, 30, 10000},
      {"drain idle is ignored", schedule(kT + 60000, later, 0, later), true, false, 0, 0, 60000},
      {"drain back-off", schedule(kT + 60000, later, kT + 5000, later), true, false, 0, 0, 5000},
      {"open watch: reopen ignored", schedule(kT + 60000, kT + 10, 0, later), true, false, 0, 0,
       60000},
      {"closed watch: reopen counts", schedule(kT + 60000, kT + 10000, 0, later), false, false, 0,
       0, 10000},
      {"candidates: every 250 ms", schedule(kT + 60000, later, 0, later), true, true, 0, 0, 250},
      {"candidate stable sooner", schedule(kT + 60000, later, 0, later), true, true, kT + 40, 0,
       40},
      {"candidate stable later than 250", schedule(kT + 60000, later, 0, later), true, true,
       kT + 900, 0, 250},
      {"candidate due but none pending", schedule(kT + 60000, later, 0, later), true, false,
       kT + 40, 0, 60000},
      {"overdue", schedule(kT - 5, later, 0, later), true, false, 0, 0, 0},
      {"due now", schedule(kT, later, 0, later), true, false, 0, 0, 0},
      {"beyond 32 bits: one step", schedule(kT + 0x200000000ULL, later + 0x200000000ULL, 0, later),
       true, false, 0, 0, kMaxWaitStepMs},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(
        sleepTimeoutMs(c.s, kT, c.watchOpen, c.haveCandidates, c.candidateDueMs, c.pollSeconds),
        c.timeout);
  }
  EXPECT_NE(kMaxWaitStepMs, INFINITE);
}

}  // namespace
}  // namespace riz
