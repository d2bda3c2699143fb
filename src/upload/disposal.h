// Deletes a confirmed PDF from the import directory when its content is what was uploaded.
#pragma once
#include <windows.h>

#include <string>

#include "fileutil/unique.h"

namespace riz {

// With deletePdf on, a ".pdf" source and result "stored" or "duplicate": deletes
// importDir\sourceName if its bytes still hash to sha256. Logs only what it deletes or fails
// to delete.
void disposeAfterUpload(const std::wstring& sourceName, const std::string& sha256,
                        const std::string& result);

// Opens path for reading and deletion while sharing only reading and deletion, so that no
// writer can change the file while the handle lives. Invalid on failure (GetLastError).
UniqueHandle openForVerifiedDelete(const std::wstring& path);

enum class VerifiedDelete { Deleted, Differs, Unreadable, DeleteFailed };

// Reads the whole file behind file (from openForVerifiedDelete) and marks exactly that file
// for deletion when its bytes hash to sha256; it goes when the last handle closes.
// DeleteFailed leaves the system's code in *error.
[[nodiscard]] VerifiedDelete deleteIfUnchanged(HANDLE file, const std::string& sha256,
                                               DWORD* error);

}  // namespace riz
