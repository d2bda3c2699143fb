// The capture engine's main loop and the retry back-off shared by drain and outbox.
#pragma once
#include <windows.h>

#include <cstdint>

namespace riz {

// Runs the engine on this thread until stopEvent is set; returns at once (after logging
// "no client secret configured") when no secret is stored.
void runEngine();

// The delay before the next attempt after a failure (5 s doubling to 900 s); advances failures.
uint64_t backoffDelayMs(int32_t& failures);

enum class WaitOutcome {
  Stop,      // stopEvent is set
  Notified,  // the watch's read has completed
  NextPass,  // a deadline has come, or the wait failed
};

// The engine's sleep: stopEvent and the watch event (stopEvent again when watchEvent is
// null) for up to timeoutMs. A failing wait is logged once per engine run ("wait failed
// err=%lu", tracked by failureLogged) and replaced by a 250 ms wait on stopEvent alone, so
// that it cannot spin.
WaitOutcome waitForWork(HANDLE watchEvent, DWORD timeoutMs, bool& failureLogged);

}  // namespace riz
