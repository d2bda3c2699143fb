#include "engine/engine.h"

#include <string>

#include "config/settings.h"
#include "config/text.h"
#include "credentials/secretstore.h"
#include "diag/log.h"
#include "engine/candidates.h"
#include "engine/ledger.h"
#include "engine/schedule.h"
#include "engine/watch.h"
#include "fileutil/fileutil.h"
#include "host/stopsignal.h"
#include "server/token.h"
#include "upload/drain.h"

namespace riz {
namespace {

constexpr uint64_t kFirstBackoffMs = 5000;
constexpr uint64_t kMaxBackoffMs = 900000;

// Until the outbox exchange is part of the service, a due poll only moves on to the next
// interval, as a completed exchange would.
void skipOutboxPoll(Schedule& schedule, uint64_t now) {
  schedule.outboxFailures = 0;
  schedule.outboxDueMs = now + static_cast<uint64_t>(settings.pollSeconds) * 1000;
}

}  // namespace

uint64_t backoffDelayMs(int32_t& failures) {
  uint64_t delay = kFirstBackoffMs;
  for (int32_t i = 0; i < failures && delay < kMaxBackoffMs; ++i) delay *= 2;
  ++failures;
  return delay < kMaxBackoffMs ? delay : kMaxBackoffMs;
}

WaitOutcome waitForWork(HANDLE watchEvent, DWORD timeoutMs, bool& failureLogged) {
  // stopEvent is index 0, so a stop wins over a notification that arrived at the same time.
  HANDLE handles[2] = {stopEvent, watchEvent != nullptr ? watchEvent : stopEvent};
  const DWORD result = WaitForMultipleObjects(2, handles, FALSE, timeoutMs);
  if (result == WAIT_OBJECT_0) return WaitOutcome::Stop;
  if (result == WAIT_OBJECT_0 + 1) return WaitOutcome::Notified;
  if (result != WAIT_FAILED) return WaitOutcome::NextPass;

  const DWORD err = GetLastError();
  if (!failureLogged) {
    logLine("wait failed err=%lu", static_cast<unsigned long>(err));
    failureLogged = true;
  }
  const DWORD fallback = WaitForSingleObject(stopEvent, static_cast<DWORD>(kCandidateCheckMs));
  if (fallback == WAIT_OBJECT_0) return WaitOutcome::Stop;
  if (fallback == WAIT_FAILED) Sleep(static_cast<DWORD>(kCandidateCheckMs));
  return WaitOutcome::NextPass;
}

void runEngine() {
  std::string secret;
  if (!loadSecret(kServiceSecretName, secret)) {
    logLine("no client secret configured");
    return;
  }
  TokenClient client(settings.tokenUrl, settings.clientId, secret);
  wipeBytes(secret);
  loadLedger();

  Watch watch;
  initWatch(watch);
  logLine("service started, import=%s", toUtf8(settings.importDir).c_str());

  Schedule schedule;
  candidates.clear();
  bool waitFailureLogged = false;
  for (;;) {
    const uint64_t passStart = nowMs();

    bool watchJustOpened = false;
    if (watchReopenDue(schedule, watchIsOpen(watch), passStart)) {
      watchJustOpened = openWatch(watch);
      if (!watchJustOpened) noteWatchOpenFailed(schedule, passStart);
    }

    // A freshly opened watch reports only what changes from now on: the scan covers the rest.
    if (scanDue(schedule, passStart, watchJustOpened)) {
      scanImportDir();
      noteScanDone(schedule, passStart, settings.scanSeconds);
    }

    if (!candidates.empty() && checkCandidates()) noteCaptured(schedule, nowMs());

    if (drainDue(schedule, nowMs())) {
      const bool completed = drainSpool(client);
      noteDrainResult(schedule, completed, nowMs());
    }

    if (outboxDue(schedule, nowMs(), settings.pollSeconds)) skipOutboxPoll(schedule, nowMs());

    const DWORD timeout = sleepTimeoutMs(schedule, nowMs(), watchIsOpen(watch), !candidates.empty(),
                                         nextCandidateDueMs(), settings.pollSeconds);
    const WaitOutcome woke =
        waitForWork(watchIsOpen(watch) ? watch.event.get() : nullptr, timeout, waitFailureLogged);
    if (woke == WaitOutcome::Stop) break;
    if (woke == WaitOutcome::Notified) {
      takeNotifications(watch, schedule);
    } else if (watchIsOpen(watch) && watch.readPending &&
               HasOverlappedIoCompleted(&watch.overlapped)) {
      // A completion that the wait did not report (a failing wait, or no usable event) is
      // picked up here, so that the watch does not go deaf.
      takeNotifications(watch, schedule);
    }
  }

  // The cancelled read must be over before its buffer and overlapped record go.
  closeWatch(watch);
  watch.event.reset();
  logLine("service stopped");
  watch.changeBuffer.reset();
}

}  // namespace riz
