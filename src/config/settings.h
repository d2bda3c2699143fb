// The process-wide configuration record, filled once from service.ini and fixed paths.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace riz {

struct Settings {
  std::wstring iniPath;                  // %ProgramData%\Talvenor-Dev\service.ini, expanded
  std::wstring serverUrl;                // findings server base URL, no trailing "/"
  std::wstring tokenUrl;                 // OAuth2 token endpoint
  std::string clientId;                  // UTF-8
  std::wstring importDir;                // watched directory, no trailing "\" or "/"
  std::vector<std::wstring> extensions;  // each begins with "."
  int32_t stableMs = 2000;
  int32_t scanSeconds = 60;
  int32_t pollSeconds = 0;
  bool deletePdf = false;
  std::wstring stateDir;
  std::wstring spoolDir;
  std::wstring rejectedDir;
  std::wstring ledgerPath;
  std::string hostName;  // UTF-8 of %COMPUTERNAME%
  // Why a service.ini that exists could not be opened for reading (0: read, or absent).
  // The values above are then the defaults; --check and the log say so.
  unsigned long iniOpenError = 0;
};

// The one record of the process. Written by loadSettings (and by tests), read-only after.
extern Settings settings;

// Default URLs of the development servers.
extern const wchar_t* const kDefaultServerUrl;
extern const wchar_t* const kDefaultTokenUrl;

// Fills every member of settings from service.ini and the environment. Never fails.
void loadSettings();

// GetPrivateProfileStringW into 2048 characters from settings.iniPath, then expandEnvironment.
std::wstring readIniString(const wchar_t* section, const wchar_t* key, const wchar_t* defaultValue);

// GetPrivateProfileIntW from settings.iniPath.
int32_t readIniInt(const wchar_t* section, const wchar_t* key, int32_t defaultValue);

// ExpandEnvironmentStringsW of text; the text unchanged when expansion fails.
std::wstring expandEnvironment(const std::wstring& text);

// Splits an "extensions" value at commas into entries that begin with "."; blank pieces
// are skipped, only U+0020 is trimmed, letter case is kept.
std::vector<std::wstring> splitExtensions(const std::wstring& value);

}  // namespace riz
