// The capture engine's main loop and the retry back-off shared by drain and outbox.
#pragma once
#include <cstdint>

namespace riz {

// Runs the engine on this thread until stopEvent is set; returns at once (after logging
// "no client secret configured") when no secret is stored.
void runEngine();

// The delay before the next attempt after a failure (5 s doubling to 900 s); advances failures.
uint64_t backoffDelayMs(int32_t& failures);

}  // namespace riz
