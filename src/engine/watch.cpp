#include "engine/watch.h"

#include <cstring>

#include "config/settings.h"
#include "diag/log.h"
#include "engine/candidates.h"

namespace riz {
namespace {

// Issues the read that keeps the watch open; false with GetLastError() set when refused.
bool issueRead(Watch& watch) {
  const BOOL ok =
      ReadDirectoryChangesW(watch.directory.get(), watch.changeBuffer.get(), kChangeBufferBytes,
                            FALSE, kWatchNotifyFilter, nullptr, &watch.overlapped, nullptr);
  watch.readPending = ok != FALSE;
  return ok != FALSE;
}

// Waits until a cancelled or abandoned read has finished with the buffer, then closes.
void endWatch(Watch& watch) {
  if (watch.readPending) {
    CancelIo(watch.directory.get());
    DWORD bytes = 0;
    GetOverlappedResult(watch.directory.get(), &watch.overlapped, &bytes, TRUE);
    watch.readPending = false;
  }
  watch.directory.reset();
}

}  // namespace

void initWatch(Watch& watch) {
  constexpr size_t words = kChangeBufferBytes / sizeof(DWORD);
  watch.changeBuffer = std::make_unique<DWORD[]>(words);  // value-initialised: zero bytes
  watch.overlapped = OVERLAPPED{};
  watch.event.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  watch.overlapped.hEvent = watch.event.get();
  watch.readPending = false;
}

bool watchIsOpen(const Watch& watch) { return static_cast<bool>(watch.directory); }

bool openWatch(Watch& watch) {
  watch.directory.reset(CreateFileW(settings.importDir.c_str(), FILE_LIST_DIRECTORY,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr));
  DWORD err = watch.directory ? ERROR_SUCCESS : GetLastError();
  ResetEvent(watch.event.get());
  if (watch.directory) {
    if (issueRead(watch)) {
      logLine("watching import dir");
      return true;
    }
    err = GetLastError();
    watch.directory.reset();
  }
  logLine("watch failed err=%lu", static_cast<unsigned long>(err));
  return false;
}

void takeNotifications(Watch& watch, Schedule& schedule) {
  DWORD bytes = 0;
  DWORD err = ERROR_SUCCESS;
  if (!GetOverlappedResult(watch.directory.get(), &watch.overlapped, &bytes, FALSE)) {
    err = GetLastError();
    // Only a read that is still under way keeps its claim on the buffer.
    if (err != ERROR_IO_INCOMPLETE) watch.readPending = false;
    ResetEvent(watch.event.get());
    // More changes than the buffer holds: the names are lost but the handle is fine, so a
    // full scan makes up for them and the watch stays open.
    if (err == ERROR_NOTIFY_ENUM_DIR) {
      noteChangesLost(schedule, nowMs());
      if (issueRead(watch)) return;
      err = GetLastError();
    }
  } else {
    watch.readPending = false;
    if (bytes == 0) noteChangesLost(schedule, nowMs());  // the buffer overflowed
    for (const std::wstring& name :
         notifiedNames(reinterpret_cast<const BYTE*>(watch.changeBuffer.get()), bytes)) {
      trackCandidate(name);
    }
    ResetEvent(watch.event.get());
    if (issueRead(watch)) return;
    err = GetLastError();
  }
  logLine("watch lost err=%lu, reopening", static_cast<unsigned long>(err));
  endWatch(watch);
  noteWatchLost(schedule, nowMs());
}

void closeWatch(Watch& watch) {
  if (watchIsOpen(watch)) endWatch(watch);
}

std::vector<std::wstring> notifiedNames(const BYTE* buffer, DWORD bytes) {
  std::vector<std::wstring> names;
  constexpr DWORD header = offsetof(FILE_NOTIFY_INFORMATION, FileName);
  DWORD offset = 0;
  while (bytes != 0 && offset < bytes) {
    if (bytes - offset < header) break;
    FILE_NOTIFY_INFORMATION record;
    std::memcpy(&record, buffer + offset, header);
    if (record.FileNameLength > bytes - offset - header) break;
    if (record.Action != FILE_ACTION_REMOVED && record.Action != FILE_ACTION_RENAMED_OLD_NAME) {
      std::wstring name(record.FileNameLength / sizeof(WCHAR), L'\0');
      std::memcpy(name.data(), buffer + offset + header, name.size() * sizeof(WCHAR));
      names.push_back(std::move(name));
    }
    if (record.NextEntryOffset == 0 || record.NextEntryOffset >= bytes - offset) break;
    offset += record.NextEntryOffset;
  }
  return names;
}

}  // namespace riz
