// One pass over the spool: upload oldest capture first, classify each answer.
#pragma once
#include "server/token.h"

namespace riz {

// Uploads the spool files in name order. True when the pass went through, found nothing to
// do or saw stopEvent; false when an upload was deferred (the engine then backs off).
bool drainSpool(TokenClient& client);

}  // namespace riz
