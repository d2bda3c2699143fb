// The client secret, protected with DPAPI in machine scope under HKLM (64-bit view).
#pragma once
#include <string>

namespace riz {

constexpr const wchar_t* kServiceSecretName = L"Service";

// Protects secret and writes it as REG_BINARY "ClientSecret" under secretKeyPath(name).
[[nodiscard]] bool storeSecret(const std::wstring& name, const std::string& secret);

// Reads and unprotects the stored secret into secret (replacing its content).
// False when nothing is stored or the blob cannot be unprotected here.
[[nodiscard]] bool loadSecret(const std::wstring& name, std::string& secret);

// Reads the file at path and keeps every byte that is not white space (0x09-0x0D, 0x20).
// True when at least one byte remains.
[[nodiscard]] bool readSecretFile(const std::wstring& path, std::string& secret);

// SOFTWARE\Talvenor-Dev\<name>
std::wstring secretKeyPath(const std::wstring& name);

// The DPAPI entropy for name: the fixed ten-character prefix and the UTF-8 name.
std::string secretEntropy(const std::wstring& name);

}  // namespace riz
