// Whole-file reads with a classified result, SHA-256 text, and files written through a
// temporary name. Nothing here logs; callers decide what a failure means.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace riz {

enum class ReadResult { Ok = 0, Busy = 1, Missing = 2, Failed = 3 };

constexpr uint64_t kMaxReadBytes = 67108864;  // 64 MiB: the most any caller holds in memory
constexpr DWORD kReadChunkBytes = 1048576;    // one ReadFile call's worth

// Reads the whole file at path, opened with shareMode, into bytes (replacing its content).
// Ok: bytes hold the file. Busy: sharing/lock violation or access denied. Missing: file or
// path not found. Failed: anything else, including a file over 64 MiB or a short read.
// lastWriteTime, when given, receives the file's last-write time; errorCode, when given,
// receives the Windows error of a failing step and is left untouched on Ok.
[[nodiscard]] ReadResult readWholeFile(const std::wstring& path, DWORD shareMode,
                                       std::string& bytes, FILETIME* lastWriteTime = nullptr,
                                       DWORD* errorCode = nullptr);

// Reads the whole file behind an open handle (opened with GENERIC_READ, positioned at its
// start) into bytes, the size fixed by one size query. Ok, or Failed for a failed size query,
// a file over 64 MiB, a failed or short read; lastWriteTime and errorCode as for readWholeFile.
// The handle stays open and owned by the caller.
[[nodiscard]] ReadResult readWholeHandle(HANDLE file, std::string& bytes,
                                         FILETIME* lastWriteTime = nullptr,
                                         DWORD* errorCode = nullptr);

// SHA-256 of data through CNG as 64 lowercase hex characters; 64 "0" when CNG is unusable.
std::string sha256Hex(std::string_view data);

// Creates dir\name with exactly these bytes: written and flushed under name + ".tmp"
// (CREATE_NEW), then renamed without replacing anything. False on any failure, with no
// temporary file left behind and GetLastError() holding the code of the step that failed.
[[nodiscard]] bool writeFileViaTemp(const std::wstring& dir, const std::wstring& name,
                                    std::string_view bytes);

// Overwrites every byte of s with zero (not optimised away) and empties it.
void wipeBytes(std::string& s);

}  // namespace riz
