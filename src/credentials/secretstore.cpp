#include "credentials/secretstore.h"

#include <windows.h>
#include <dpapi.h>

#include <vector>

#include "config/text.h"
#include "fileutil/fileutil.h"
#include "fileutil/unique.h"

namespace riz {
namespace {

// Never change this prefix: every stored secret is protected with it, and a different
// entropy makes all of them unreadable.
constexpr char kEntropyPrefix[] = "Norvessa1.";
static_assert(sizeof kEntropyPrefix - 1 == 10, "the entropy prefix has ten characters");

constexpr DWORD kMaxBlobBytes = 4096;
constexpr DWORD kProtectFlags = CRYPTPROTECT_UI_FORBIDDEN | CRYPTPROTECT_LOCAL_MACHINE;

bool isSecretWhiteSpace(unsigned char c) { return c == 0x20 || (c >= 0x09 && c <= 0x0D); }

}  // namespace

std::wstring secretKeyPath(const std::wstring& name) { return L"SOFTWARE\\Talvenor-Dev\\" + name; }

std::string secretEntropy(const std::wstring& name) { return kEntropyPrefix + toUtf8(name); }

bool storeSecret(const std::wstring& name, const std::string& secret) {
  std::string entropy = secretEntropy(name);
  DATA_BLOB input{static_cast<DWORD>(secret.size()),
                  reinterpret_cast<BYTE*>(const_cast<char*>(secret.data()))};
  DATA_BLOB entropyBlob{static_cast<DWORD>(entropy.size()),
                        reinterpret_cast<BYTE*>(entropy.data())};
  DATA_BLOB output{};
  if (!CryptProtectData(&input, L"Talvenor", &entropyBlob, nullptr, nullptr, kProtectFlags,
                        &output)) {
    return false;
  }
  UniqueLocal outputOwner(output.pbData);
  UniqueHkey key;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, secretKeyPath(name).c_str(), 0, nullptr,
                      REG_OPTION_NON_VOLATILE, KEY_WOW64_64KEY | KEY_SET_VALUE, nullptr, key.put(),
                      nullptr) != ERROR_SUCCESS) {
    return false;
  }
  return RegSetValueExW(key.get(), L"ClientSecret", 0, REG_BINARY, output.pbData, output.cbData) ==
         ERROR_SUCCESS;
}

bool loadSecret(const std::wstring& name, std::string& secret) {
  UniqueHkey key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, secretKeyPath(name).c_str(), 0,
                    KEY_WOW64_64KEY | KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS) {
    return false;
  }
  std::vector<BYTE> blob(kMaxBlobBytes, 0);
  DWORD type = 0;
  DWORD size = kMaxBlobBytes;
  LSTATUS status = RegQueryValueExW(key.get(), L"ClientSecret", nullptr, &type, blob.data(), &size);
  key.reset();
  if (status != ERROR_SUCCESS || type != REG_BINARY) return false;
  std::string entropy = secretEntropy(name);
  DATA_BLOB input{size, blob.data()};
  DATA_BLOB entropyBlob{static_cast<DWORD>(entropy.size()),
                        reinterpret_cast<BYTE*>(entropy.data())};
  DATA_BLOB output{};
  if (!CryptUnprotectData(&input, nullptr, &entropyBlob, nullptr, nullptr,
                          CRYPTPROTECT_UI_FORBIDDEN, &output)) {
    return false;
  }
  UniqueLocal outputOwner(output.pbData);
  wipeBytes(secret);
  secret.assign(reinterpret_cast<const char*>(output.pbData), output.cbData);
  SecureZeroMemory(output.pbData, output.cbData);
  return true;
}

bool readSecretFile(const std::wstring& path, std::string& secret) {
  std::string content;
  ReadResult r = readWholeFile(path, FILE_SHARE_READ, content);
  wipeBytes(secret);
  if (r == ReadResult::Ok) {
    secret.reserve(content.size());  // no reallocation leaves unwiped copies behind
    for (char c : content) {
      if (!isSecretWhiteSpace(static_cast<unsigned char>(c))) secret.push_back(c);
    }
  }
  wipeBytes(content);
  return !secret.empty();
}

}  // namespace riz
