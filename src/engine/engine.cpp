// Placeholder until the engine lands.
#include "engine/engine.h"

#include "diag/log.h"

namespace riz {

void runEngine() { logLine("no client secret configured"); }

uint64_t backoffDelayMs(int32_t& failures) {
  ++failures;
  return 5000;
}

}  // namespace riz
