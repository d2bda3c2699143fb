#include "engine/capture.h"

#include <windows.h>

#include <cwchar>

#include "config/settings.h"
#include "config/text.h"
#include "diag/log.h"
#include "engine/ledger.h"
#include "fileutil/fileutil.h"

namespace riz {

uint32_t captureCounter = 0;

namespace {
constexpr size_t kSpoolPrefixChars = 64;     // 63 characters and the terminator
constexpr uint32_t kCounterModulus = 10000;  // the counter's four digits in the name
}  // namespace

std::wstring formatSpoolPrefix(uint64_t captureMs, uint64_t lastWriteMs, uint32_t counter) {
  wchar_t buffer[kSpoolPrefixChars];
  const int n = swprintf(buffer, kSpoolPrefixChars, L"%013llu_%013llu_%04u_",
                         static_cast<unsigned long long>(captureMs),
                         static_cast<unsigned long long>(lastWriteMs), counter);
  return n < 0 ? std::wstring() : std::wstring(buffer, static_cast<size_t>(n));
}

CaptureOutcome captureCandidate(const std::wstring& name, const std::wstring& path,
                                Candidate& entry, uint64_t now) {
  // No FILE_SHARE_WRITE: a file that anyone holds open for writing is busy, and while we
  // read it nobody can open it for writing.
  std::string bytes;
  FILETIME lastWrite{};
  DWORD readError = 0;
  const ReadResult read =
      readWholeFile(path, FILE_SHARE_READ | FILE_SHARE_DELETE, bytes, &lastWrite, &readError);
  if (read == ReadResult::Missing) return CaptureOutcome::Vanished;
  if (read != ReadResult::Ok) {
    entry.unchangedSinceMs = now;
    return CaptureOutcome::Retry;
  }

  // The file may have changed between the stable observation and the open.
  const uint64_t size = bytes.size();
  const uint64_t lastWriteMs = fileTimeToMs(lastWrite);
  if (size != entry.size || lastWriteMs != entry.lastWriteMs) {
    entry = Candidate{size, lastWriteMs, now};
    return CaptureOutcome::Retry;
  }

  const std::string digest = sha256Hex(bytes);
  const uint32_t counter = captureCounter++;
  const std::wstring spoolName =
      formatSpoolPrefix(now, entry.lastWriteMs, counter % kCounterModulus) + name;
  if (!writeFileViaTemp(settings.spoolDir, spoolName, bytes)) {
    const DWORD err = GetLastError();
    logLine("spool write failed for %s err=%lu", toUtf8(name).c_str(),
            static_cast<unsigned long>(err));
    entry.unchangedSinceMs = now;
    return CaptureOutcome::Retry;
  }
  // The spool file is complete under its final name before the ledger knows of it, and the
  // ledger line is on disk before the log says "captured".
  appendLedger(name, size, entry.lastWriteMs, digest);
  logLine("captured %s size=%llu sha256=%s", toUtf8(name).c_str(),
          static_cast<unsigned long long>(size), digest.c_str());
  return CaptureOutcome::Captured;
}

}  // namespace riz
