#include "config/statedir.h"

#include <windows.h>
#include <sddl.h>

#include "config/settings.h"
#include "fileutil/unique.h"

namespace riz {

const wchar_t* const kStateDirSddl = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

bool createDirectoryTree(const std::wstring& path) {
  if (path.empty()) return false;
  DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  size_t sep = path.find_last_of(L"\\/");
  // A separator at index 0 to 2 belongs to a drive root, which is never created.
  if (sep != std::wstring::npos && sep >= 3) createDirectoryTree(path.substr(0, sep));
  if (CreateDirectoryW(path.c_str(), nullptr)) return true;
  return GetLastError() == ERROR_ALREADY_EXISTS;
}

bool createProtectedDirectory(const std::wstring& path) {
  PSECURITY_DESCRIPTOR raw = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kStateDirSddl, SDDL_REVISION_1, &raw,
                                                            nullptr)) {
    return false;
  }
  UniqueLocal descriptor(raw);
  SECURITY_ATTRIBUTES sa{sizeof sa, raw, FALSE};
  if (CreateDirectoryW(path.c_str(), &sa)) return true;
  if (GetLastError() != ERROR_ALREADY_EXISTS) return false;
  // A file where a directory belongs is not a state directory: the engine could not use it,
  // and the file is left as it is.
  DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    SetLastError(ERROR_DIRECTORY);
    return false;
  }
  // An existing directory gets the protected DACL again, discarding changes made meanwhile.
  if (!SetFileSecurityW(path.c_str(),
                        DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, raw)) {
    return false;
  }
  return true;
}

bool prepareStateDirectories() {
  createDirectoryTree(expandEnvironment(L"%ProgramData%\\Talvenor-Dev"));
  return createProtectedDirectory(settings.stateDir) &&
         createProtectedDirectory(settings.spoolDir) &&
         createProtectedDirectory(settings.rejectedDir);
}

}  // namespace riz
