// The service log (service.log with one ".old" generation) and the shared time conversions.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

namespace riz {

constexpr uint64_t kLogRotateBytes = 1048576;  // a log above this size is moved to ".old"

// Sets the log path and whether every line is echoed to standard output.
void initLog(const std::wstring& path, bool consoleEcho);

// Appends one line "<local time> [<pid>] <message>\r\n"; the message is cut to 1023 bytes.
// Does nothing before initLog. Never fails towards the caller.
void logLine(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// Milliseconds since 1970-01-01 UTC, from the system clock.
uint64_t nowMs();

// FILETIME (100 ns since 1601) as milliseconds since 1970-01-01 UTC.
uint64_t fileTimeToMs(const FILETIME& ft);

// Milliseconds since 1970 as "YYYY-MM-DDTHH:MM:SS.mmmZ".
std::string isoTimestampUtc(uint64_t ms);

}  // namespace riz
