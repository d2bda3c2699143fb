#include "config/settings.h"

#include <windows.h>

#include "config/text.h"
#include "fileutil/unique.h"

namespace riz {

Settings settings;

const wchar_t* const kDefaultServerUrl = L"https://befunde.dev.talvenor.de";
const wchar_t* const kDefaultTokenUrl =
    L"https://login.dev.talvenor.de/realms/brevant/protocol/openid-connect/token";

namespace {
constexpr DWORD kIniValueChars = 2048;  // longer values arrive cut to 2047 characters

// The profile reader gives the defaults without a word when the file exists but cannot be
// opened (held without sharing by an editor or a backup tool, or a directory of that name).
// An open with the reader's sharing tells that case apart from a file that is simply absent.
unsigned long probeIniFile(const std::wstring& path) {
  UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file) return 0;
  const DWORD err = GetLastError();
  return err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND ? 0 : err;
}

void trimTrailing(std::wstring& s, const wchar_t* chars) {
  while (!s.empty() && wcschr(chars, s.back()) != nullptr) s.pop_back();
}
}  // namespace

std::wstring expandEnvironment(const std::wstring& text) {
  DWORD need = ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
  if (need == 0) return text;
  std::wstring out(need, L'\0');
  DWORD got = ExpandEnvironmentStringsW(text.c_str(), out.data(), need);
  if (got == 0 || got > need) return text;
  out.resize(got - 1);
  return out;
}

std::wstring readIniString(const wchar_t* section, const wchar_t* key,
                           const wchar_t* defaultValue) {
  wchar_t buffer[kIniValueChars] = {};
  GetPrivateProfileStringW(section, key, defaultValue, buffer, kIniValueChars,
                           settings.iniPath.c_str());
  return expandEnvironment(buffer);  // the text up to its terminator
}

int32_t readIniInt(const wchar_t* section, const wchar_t* key, int32_t defaultValue) {
  return static_cast<int32_t>(
      GetPrivateProfileIntW(section, key, defaultValue, settings.iniPath.c_str()));
}

std::vector<std::wstring> splitExtensions(const std::wstring& value) {
  std::vector<std::wstring> list;
  size_t pos = 0;
  while (pos <= value.size()) {
    size_t comma = value.find(L',', pos);
    size_t end = comma == std::wstring::npos ? value.size() : comma;
    std::wstring piece = value.substr(pos, end - pos);
    size_t first = piece.find_first_not_of(L' ');
    if (first == std::wstring::npos) {
      piece.clear();
    } else {
      piece = piece.substr(first, piece.find_last_not_of(L' ') - first + 1);
    }
    if (!piece.empty()) list.push_back(piece[0] == L'.' ? piece : L"." + piece);
    if (comma == std::wstring::npos) break;
    pos = comma + 1;
  }
  return list;
}

void loadSettings() {
  Settings& s = settings;
  s.iniPath = expandEnvironment(L"%ProgramData%\\Talvenor-Dev\\service.ini");
  s.iniOpenError = probeIniFile(s.iniPath);
  s.serverUrl = readIniString(L"server", L"url", kDefaultServerUrl);
  trimTrailing(s.serverUrl, L"/");
  s.tokenUrl = readIniString(L"server", L"token_url", kDefaultTokenUrl);
  s.clientId = toUtf8(readIniString(L"server", L"client_id", L"wetysqtn-pr-978015"));
  s.importDir = readIniString(L"import", L"dir", L"C:\\CGM\\Connect\\Import");
  trimTrailing(s.importDir, L"\\/");
  s.extensions = splitExtensions(readIniString(L"import", L"extensions", L".bef,.pdf"));
  s.stableMs = readIniInt(L"import", L"stable_ms", 2000);
  s.scanSeconds = readIniInt(L"import", L"scan_seconds", 60);
  if (s.scanSeconds < 10) s.scanSeconds = 10;
  s.pollSeconds = readIniInt(L"outbox", L"poll_seconds", 0);
  if (s.pollSeconds <= 0) {
    s.pollSeconds = 0;
  } else if (s.pollSeconds < 10) {
    s.pollSeconds = 10;
  }
  s.deletePdf = readIniInt(L"import", L"delete_pdf", 0) != 0;
  s.stateDir = expandEnvironment(L"%ProgramData%\\Talvenor-Dev\\Rizurarirove");
  s.spoolDir = s.stateDir + L"\\spool";
  s.rejectedDir = s.stateDir + L"\\rejected";
  s.ledgerPath = s.stateDir + L"\\captured.tsv";
  s.hostName = toUtf8(expandEnvironment(L"%COMPUTERNAME%"));
}

}  // namespace riz
