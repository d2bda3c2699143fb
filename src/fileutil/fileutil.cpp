#include "fileutil/fileutil.h"

#include <bcrypt.h>

#include "fileutil/unique.h"

namespace riz {
namespace {

struct AlgTraits {
  using Handle = BCRYPT_ALG_HANDLE;
  static Handle invalid() noexcept { return nullptr; }
  static bool isValid(Handle h) noexcept { return h != nullptr; }
  static void close(Handle h) noexcept { BCryptCloseAlgorithmProvider(h, 0); }
};
struct HashTraits {
  using Handle = BCRYPT_HASH_HANDLE;
  static Handle invalid() noexcept { return nullptr; }
  static bool isValid(Handle h) noexcept { return h != nullptr; }
  static void close(Handle h) noexcept { BCryptDestroyHash(h); }
};

ReadResult classifyOpenError(DWORD err) {
  switch (err) {
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_ACCESS_DENIED:
      return ReadResult::Busy;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return ReadResult::Missing;
    default:
      return ReadResult::Failed;
  }
}

}  // namespace

ReadResult readWholeHandle(HANDLE file, std::string& bytes, FILETIME* lastWriteTime,
                           DWORD* errorCode) {
  bytes.clear();
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file, &size)) {
    if (errorCode) *errorCode = GetLastError();
    return ReadResult::Failed;
  }
  if (static_cast<uint64_t>(size.QuadPart) > kMaxReadBytes) {
    if (errorCode) *errorCode = ERROR_FILE_TOO_LARGE;
    return ReadResult::Failed;
  }
  bytes.resize(static_cast<size_t>(size.QuadPart));
  size_t offset = 0;
  while (offset < bytes.size()) {
    DWORD want = static_cast<DWORD>(std::min<size_t>(bytes.size() - offset, kReadChunkBytes));
    DWORD got = 0;
    if (!ReadFile(file, bytes.data() + offset, want, &got, nullptr) || got == 0) {
      // A file that shrank after the size query ends here: the content is not whole.
      DWORD err = got == 0 ? ERROR_HANDLE_EOF : GetLastError();
      if (lastWriteTime) GetFileTime(file, nullptr, nullptr, lastWriteTime);
      if (errorCode) *errorCode = err;
      return ReadResult::Failed;
    }
    offset += got;
  }
  if (lastWriteTime) GetFileTime(file, nullptr, nullptr, lastWriteTime);
  return ReadResult::Ok;
}

ReadResult readWholeFile(const std::wstring& path, DWORD shareMode, std::string& bytes,
                         FILETIME* lastWriteTime, DWORD* errorCode) {
  bytes.clear();
  UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, shareMode, nullptr, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN | FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    DWORD err = GetLastError();
    if (errorCode) *errorCode = err;
    return classifyOpenError(err);
  }
  return readWholeHandle(file.get(), bytes, lastWriteTime, errorCode);
}

std::string sha256Hex(std::string_view data) {
  unsigned char digest[32] = {};
  Unique<AlgTraits> alg;
  if (BCryptOpenAlgorithmProvider(alg.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0) == 0) {
    Unique<HashTraits> hash;
    if (BCryptCreateHash(alg.get(), hash.put(), nullptr, 0, nullptr, 0, 0) == 0) {
      // Hash in pieces below 4 GiB so that any length fits the 32-bit count.
      const auto* p = reinterpret_cast<const unsigned char*>(data.data());
      size_t left = data.size();
      bool ok = true;
      while (ok && left > 0) {
        ULONG n = static_cast<ULONG>(std::min<size_t>(left, 0x40000000));
        ok = BCryptHashData(hash.get(), const_cast<PUCHAR>(p), n, 0) == 0;
        p += n;
        left -= n;
      }
      if (!ok || BCryptFinishHash(hash.get(), digest, sizeof digest, 0) != 0) {
        SecureZeroMemory(digest, sizeof digest);
      }
    }
  }
  static const char kHex[] = "0123456789abcdef";
  std::string text(64, '0');
  for (size_t i = 0; i < 32; ++i) {
    text[2 * i] = kHex[digest[i] >> 4];
    text[2 * i + 1] = kHex[digest[i] & 0x0F];
  }
  return text;
}

bool writeFileViaTemp(const std::wstring& dir, const std::wstring& name, std::string_view bytes) {
  const std::wstring finalPath = dir + L"\\" + name;
  const std::wstring tempPath = finalPath + L".tmp";
  if (bytes.size() > MAXDWORD) {
    SetLastError(ERROR_FILE_TOO_LARGE);
    return false;
  }
  UniqueHandle file(CreateFileW(tempPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  // On every failure below the temporary file goes, and the code of the failed step stays.
  auto discard = [&](DWORD err) {
    file.reset();
    DeleteFileW(tempPath.c_str());
    SetLastError(err);
    return false;
  };
  DWORD written = 0;
  if (!WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr)) {
    return discard(GetLastError());
  }
  if (written != bytes.size()) return discard(ERROR_WRITE_FAULT);
  if (!FlushFileBuffers(file.get())) return discard(GetLastError());
  file.reset();
  if (!MoveFileExW(tempPath.c_str(), finalPath.c_str(), MOVEFILE_WRITE_THROUGH)) {
    DWORD err = GetLastError();
    DeleteFileW(tempPath.c_str());
    SetLastError(err);
    return false;
  }
  return true;
}

void wipeBytes(std::string& s) {
  if (!s.empty()) SecureZeroMemory(s.data(), s.size());
  s.clear();
}

}  // namespace riz
