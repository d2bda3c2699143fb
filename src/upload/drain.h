// One pass over the spool: upload oldest capture first, classify each answer.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "server/token.h"
#include "upload/multipart.h"

namespace riz {

// What an upload answer means for the spool file.
enum class UploadOutcome { Uploaded, Rejected, Deferred };

// 200-299 Uploaded; 401, 403, 408, 429 Deferred; other 400-499 Rejected; everything else
// (0 for no answer, 1xx, 3xx, 5xx, ...) Deferred.
[[nodiscard]] UploadOutcome classifyUploadStatus(int32_t status);

// The parts of a spool name "<captured>_<mtime>_<counter>_<source>".
struct SpoolName {
  uint64_t capturedMs = 0;  // leading digits before the first "_"; 0 without digits
  uint64_t mtimeMs = 0;     // leading digits after the first "_"; 0 without digits
  std::wstring sourceName;  // everything after the third "_", possibly empty
};

// Splits spoolName at its first three "_". False when it has fewer than three.
[[nodiscard]] bool parseSpoolName(const std::wstring& spoolName, SpoolName& out);

// The eight form parts of one upload, in the order the server expects them. fileBytes is
// moved into the "file" part.
std::vector<FormPart> buildUploadForm(const SpoolName& name, std::string fileBytes,
                                      const std::string& sha256);

// The names in spoolDir that a pass works on: no directories, no names ending in ".tmp"
// (case-sensitive), sorted by UTF-16 code units. Empty when the directory cannot be listed.
std::vector<std::wstring> listSpool(const std::wstring& spoolDir);

// Uploads the spool files in name order. True when the pass went through, found nothing to
// do or saw stopEvent; false when an upload was deferred (the engine then backs off).
bool drainSpool(TokenClient& client);

}  // namespace riz
