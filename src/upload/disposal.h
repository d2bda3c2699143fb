// Deletes a confirmed PDF from the import directory when its content is what was uploaded.
#pragma once
#include <string>

namespace riz {

// With deletePdf on, a ".pdf" source and result "stored" or "duplicate": deletes
// importDir\sourceName if its bytes still hash to sha256. Logs only what it deletes or fails
// to delete.
void disposeAfterUpload(const std::wstring& sourceName, const std::string& sha256,
                        const std::string& result);

}  // namespace riz
