#include "engine/candidates.h"

#include <windows.h>

#include <cwchar>
#include <vector>

#include "config/settings.h"
#include "engine/capture.h"
#include "engine/ledger.h"
#include "fileutil/unique.h"
#include "upload/disposal.h"

namespace riz {

std::map<std::wstring, Candidate> candidates;

namespace {

struct PendingDisposal {
  std::wstring name;
  std::string sha256;
};

uint64_t sizeOf(DWORD high, DWORD low) { return (uint64_t{high} << 32) | low; }

// stableMs widened with its sign: a negative value becomes a quiet time no file reaches.
uint64_t stableWindowMs() { return static_cast<uint64_t>(static_cast<int64_t>(settings.stableMs)); }

}  // namespace

bool hasWatchedExtension(const std::wstring& name) {
  const size_t dot = name.rfind(L'.');
  if (dot == std::wstring::npos) return false;
  const wchar_t* extension = name.c_str() + dot;
  for (const std::wstring& watched : settings.extensions) {
    if (_wcsicmp(extension, watched.c_str()) == 0) return true;
  }
  return false;
}

void trackCandidate(const std::wstring& name) {
  if (!hasWatchedExtension(name)) return;
  candidates.try_emplace(name);  // an existing entry keeps its observation
}

bool spoolFileExists(const std::wstring& dir, const std::wstring& name) {
  WIN32_FIND_DATAW data;
  UniqueFind search(FindFirstFileW((dir + L"\\*_" + name).c_str(), &data));
  return static_cast<bool>(search);
}

void scanImportDir() {
  std::vector<PendingDisposal> disposals;
  {
    WIN32_FIND_DATAW data;
    UniqueFind listing(FindFirstFileW((settings.importDir + L"\\*").c_str(), &data));
    if (!listing) return;
    do {
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
      const std::wstring name = data.cFileName;
      if (!hasWatchedExtension(name)) continue;
      const std::wstring key = ledgerKey(name, sizeOf(data.nFileSizeHigh, data.nFileSizeLow),
                                         fileTimeToMs(data.ftLastWriteTime));
      if (capturedKeys.count(key) == 0) {
        trackCandidate(name);
        continue;
      }
      if (!settings.deletePdf) continue;
      const auto sha = capturedSha256.find(key);
      if (sha != capturedSha256.end()) disposals.push_back({name, sha->second});
    } while (FindNextFileW(listing.get(), &data));
  }
  // A PDF is only deleted once its upload is over: no copy waits in the spool, and the
  // server did not reject it.
  for (const PendingDisposal& pending : disposals) {
    if (spoolFileExists(settings.spoolDir, pending.name)) continue;
    if (spoolFileExists(settings.rejectedDir, pending.name)) continue;
    disposeAfterUpload(pending.name, pending.sha256, "stored");
  }
}

bool checkCandidates(uint64_t (*clock)()) {
  bool capturedThisPass = false;
  for (auto it = candidates.begin(); it != candidates.end();) {
    const std::wstring& name = it->first;
    Candidate& entry = it->second;
    const std::wstring path = settings.importDir + L"\\" + name;
    WIN32_FILE_ATTRIBUTE_DATA info;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &info)) {
      it = candidates.erase(it);
      continue;
    }
    const uint64_t size = sizeOf(info.nFileSizeHigh, info.nFileSizeLow);
    const uint64_t lastWriteMs = fileTimeToMs(info.ftLastWriteTime);
    const uint64_t now = clock();
    if (capturedKeys.count(ledgerKey(name, size, lastWriteMs)) != 0) {
      it = candidates.erase(it);
      continue;
    }
    // A clock set back behind the first observation starts the quiet time again, rather than
    // letting the unsigned difference make a file that is still being written look stable.
    if (size != entry.size || lastWriteMs != entry.lastWriteMs || entry.unchangedSinceMs == 0 ||
        now < entry.unchangedSinceMs) {
      entry = Candidate{size, lastWriteMs, now};
      ++it;
      continue;
    }
    if (now - entry.unchangedSinceMs < stableWindowMs() || size == 0) {
      ++it;
      continue;
    }
    switch (captureCandidate(name, path, entry, now)) {
      case CaptureOutcome::Captured:
        capturedThisPass = true;
        it = candidates.erase(it);
        break;
      case CaptureOutcome::Vanished:
        it = candidates.erase(it);
        break;
      case CaptureOutcome::Retry:
        ++it;
        break;
    }
  }
  return capturedThisPass;
}

uint64_t nextCandidateDueMs() {
  if (settings.stableMs < 0) return 0;  // nothing ever becomes stable
  uint64_t earliest = 0;
  for (const auto& [name, entry] : candidates) {
    if (entry.unchangedSinceMs == 0 || entry.size == 0) continue;
    const uint64_t due = entry.unchangedSinceMs + stableWindowMs();
    if (earliest == 0 || due < earliest) earliest = due;
  }
  return earliest;
}

}  // namespace riz
