// Placeholder until the upload pipeline lands.
#include "upload/disposal.h"

namespace riz {

void disposeAfterUpload(const std::wstring&, const std::string&, const std::string&) {}

}  // namespace riz
