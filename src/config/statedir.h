// The protected state directory with its spool and rejected-files directories.
#pragma once
#include <string>

namespace riz {

// SDDL of the state directories: protected DACL, full access for SYSTEM and Administrators.
extern const wchar_t* const kStateDirSddl;

// Makes sure stateDir, spoolDir and rejectedDir exist with the protected DACL (re-applied to
// existing ones). True when all three are in place.
[[nodiscard]] bool prepareStateDirectories();

// Creates path with the protected DACL, or replaces the DACL of what already exists there.
[[nodiscard]] bool createProtectedDirectory(const std::wstring& path);

// Creates path and its missing parents with default security; true when path is a directory.
bool createDirectoryTree(const std::wstring& path);

}  // namespace riz
