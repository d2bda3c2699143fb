#include "upload/disposal.h"

#include <cwchar>

#include "config/settings.h"
#include "config/text.h"
#include "diag/log.h"
#include "fileutil/fileutil.h"

namespace riz {
namespace {

bool isPdfName(const std::wstring& name) {
  // A name of just ".pdf" is no findings file.
  return name.size() > 4 && _wcsicmp(name.c_str() + name.size() - 4, L".pdf") == 0;
}

}  // namespace

UniqueHandle openForVerifiedDelete(const std::wstring& path) {
  return UniqueHandle(CreateFileW(path.c_str(), GENERIC_READ | DELETE,
                                  FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_SEQUENTIAL_SCAN | FILE_ATTRIBUTE_NORMAL, nullptr));
}

VerifiedDelete deleteIfUnchanged(HANDLE file, const std::string& sha256, DWORD* error) {
  LARGE_INTEGER start{};
  if (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) return VerifiedDelete::Unreadable;
  std::string bytes;
  if (readWholeHandle(file, bytes) != ReadResult::Ok) return VerifiedDelete::Unreadable;
  if (sha256Hex(bytes) != sha256) return VerifiedDelete::Differs;
  // Deleting through the handle that was hashed removes exactly the verified bytes; deleting
  // by name could hit a file that was rewritten or replaced after the check.
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = TRUE;
  if (!SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition)) {
    if (error) *error = GetLastError();
    return VerifiedDelete::DeleteFailed;
  }
  return VerifiedDelete::Deleted;
}

void disposeAfterUpload(const std::wstring& sourceName, const std::string& sha256,
                        const std::string& result) {
  if (!settings.deletePdf) return;
  if (!isPdfName(sourceName)) return;
  if (result != "stored" && result != "duplicate") return;
  const std::wstring path = settings.importDir + L"\\" + sourceName;
  const std::string name = toUtf8(sourceName);

  UniqueHandle file = openForVerifiedDelete(path);
  if (!file) {
    DWORD openError = GetLastError();
    if (openError == ERROR_FILE_NOT_FOUND || openError == ERROR_PATH_NOT_FOUND) return;
    // The file is there but cannot be opened for deletion: another program holds it without
    // delete sharing, or deletion is not allowed. If it still is the uploaded content, that is
    // a failed deletion and says so; a file held by a writer stays without a word.
    std::string bytes;
    if (readWholeFile(path, FILE_SHARE_READ | FILE_SHARE_DELETE, bytes) != ReadResult::Ok) return;
    if (sha256Hex(bytes) != sha256) return;
    logLine("delete pdf %s failed err=%lu", name.c_str(), static_cast<unsigned long>(openError));
    return;
  }
  DWORD deleteError = 0;
  switch (deleteIfUnchanged(file.get(), sha256, &deleteError)) {
    case VerifiedDelete::Deleted:
      file.reset();  // the name goes with the last handle
      logLine("deleted pdf %s sha256=%s", name.c_str(), sha256.c_str());
      break;
    case VerifiedDelete::DeleteFailed:
      logLine("delete pdf %s failed err=%lu", name.c_str(),
              static_cast<unsigned long>(deleteError));
      break;
    case VerifiedDelete::Differs:
    case VerifiedDelete::Unreadable:
      break;
  }
}

}  // namespace riz
