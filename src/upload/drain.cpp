#include "upload/drain.h"

#include <windows.h>

#include <algorithm>

#include "config/settings.h"
#include "config/text.h"
#include "diag/log.h"
#include "fileutil/fileutil.h"
#include "fileutil/unique.h"
#include "host/stopsignal.h"
#include "server/json.h"
#include "upload/disposal.h"

namespace riz {
namespace {

uint64_t leadingNumber(const std::wstring& text, size_t from) {
  uint64_t value = 0;
  for (size_t i = from; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
    value = value * 10 + static_cast<uint64_t>(text[i] - L'0');
  }
  return value;
}

bool endsWithTmp(const std::wstring& name) {
  return name.size() >= 4 && name.compare(name.size() - 4, 4, L".tmp") == 0;
}

}  // namespace

UploadOutcome classifyUploadStatus(int32_t status) {
  if (status >= 200 && status <= 299) return UploadOutcome::Uploaded;
  if (status >= 400 && status <= 499) {
    // Authorisation, time-out and rate limits pass; the file itself is not at fault.
    if (status == 401 || status == 403 || status == 408 || status == 429) {
      return UploadOutcome::Deferred;
    }
    return UploadOutcome::Rejected;
  }
  return UploadOutcome::Deferred;
}

bool parseSpoolName(const std::wstring& spoolName, SpoolName& out) {
  size_t first = spoolName.find(L'_');
  if (first == std::wstring::npos) return false;
  size_t second = spoolName.find(L'_', first + 1);
  if (second == std::wstring::npos) return false;
  size_t third = spoolName.find(L'_', second + 1);
  if (third == std::wstring::npos) return false;
  out.capturedMs = leadingNumber(spoolName, 0);
  out.mtimeMs = leadingNumber(spoolName, first + 1);
  out.sourceName = spoolName.substr(third + 1);
  return true;
}

std::vector<FormPart> buildUploadForm(const SpoolName& name, std::string fileBytes,
                                      const std::string& sha256) {
  const std::string source = toUtf8(name.sourceName);
  std::vector<FormPart> parts;
  parts.reserve(8);
  parts.push_back({"filename", source, false, {}});
  parts.push_back({"sha256", sha256, false, {}});
  parts.push_back({"captured_at", isoTimestampUtc(name.capturedMs), false, {}});
  parts.push_back({"file_mtime", isoTimestampUtc(name.mtimeMs), false, {}});
  parts.push_back({"host", settings.hostName, false, {}});
  // The service runs as the local system account in session 0; the values say so even when
  // the engine runs in the foreground.
  parts.push_back({"win_user", "SYSTEM", false, {}});
  parts.push_back({"win_session", "0", false, {}});
  parts.push_back({"file", std::move(fileBytes), true, source});
  return parts;
}

std::vector<std::wstring> listSpool(const std::wstring& spoolDir) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW entry{};
  UniqueFind find(FindFirstFileW((spoolDir + L"\\*").c_str(), &entry));
  if (!find) return names;
  do {
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    std::wstring name(entry.cFileName);
    // A name ending in ".tmp" is a capture still being written.
    if (endsWithTmp(name)) continue;
    names.push_back(std::move(name));
  } while (FindNextFileW(find.get(), &entry));
  // The zero-padded capture time leads every name, so code-unit order is capture order.
  std::sort(names.begin(), names.end());
  return names;
}

bool drainSpool(TokenClient& client) {
  const std::vector<std::wstring> names = listSpool(settings.spoolDir);
  const std::wstring url = settings.serverUrl + L"/api/befund";
  for (const std::wstring& spoolName : names) {
    if (stopRequested()) return true;
    SpoolName parsed;
    if (!parseSpoolName(spoolName, parsed)) continue;
    const std::wstring spoolPath = settings.spoolDir + L"\\" + spoolName;
    std::string bytes;
    if (readWholeFile(spoolPath, FILE_SHARE_READ, bytes) != ReadResult::Ok) continue;
    const std::string sha256 = sha256Hex(bytes);
    const std::string source = toUtf8(parsed.sourceName);

    HttpResponse answer;
    {
      // The form takes over the bytes, so only the form and the body hold the file.
      std::vector<FormPart> form = buildUploadForm(parsed, std::move(bytes), sha256);
      answer = uploadFile(client, url, form);
    }

    switch (classifyUploadStatus(answer.status)) {
      case UploadOutcome::Uploaded: {
        const std::string result = jsonStringField(answer.body, "result");
        const std::string receipt = jsonStringField(answer.body, "receipt_id");
        logLine("uploaded %s result=%s receipt=%s", source.c_str(), result.c_str(),
                receipt.c_str());
        DeleteFileW(spoolPath.c_str());
        disposeAfterUpload(parsed.sourceName, sha256, result);
        break;
      }
      case UploadOutcome::Rejected: {
        const std::string error = jsonStringField(answer.body, "error");
        logLine("rejected %s http=%d error=%s", source.c_str(), static_cast<int>(answer.status),
                error.c_str());
        const std::wstring target = settings.rejectedDir + L"\\" + spoolName;
        MoveFileExW(spoolPath.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING);
        break;
      }
      case UploadOutcome::Deferred:
        logLine("upload deferred %s http=%d winerr=%lu", source.c_str(),
                static_cast<int>(answer.status), static_cast<unsigned long>(answer.win32Error));
        return false;
    }
  }
  return true;
}

}  // namespace riz
