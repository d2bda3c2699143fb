// Placeholder until the upload pipeline lands.
#include "upload/drain.h"

namespace riz {

bool drainSpool(TokenClient&) { return true; }

}  // namespace riz
