// The import directory watch: one overlapped ReadDirectoryChangesW kept outstanding, whose
// reported names are nominated as candidates.
#pragma once
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/schedule.h"
#include "fileutil/unique.h"

namespace riz {

constexpr DWORD kChangeBufferBytes = 65536;  // one read's worth of notifications
constexpr DWORD kWatchNotifyFilter =
    FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_LAST_WRITE;  // 25

// The watch's resources, owned by the engine for one runEngine call. The buffer and the
// overlapped record belong to the outstanding read until it has completed.
struct Watch {
  UniqueHandle directory;  // invalid while no watch is open
  UniqueHandle event;      // manual reset; the overlapped record's event
  OVERLAPPED overlapped{};
  std::unique_ptr<DWORD[]> changeBuffer;  // DWORD-aligned, as the records require
  bool readPending = false;               // a read has been issued and not yet completed
};

// Allocates the zeroed change buffer and creates the event. The watch starts closed.
void initWatch(Watch& watch);

// True while the directory handle is open.
bool watchIsOpen(const Watch& watch);

// Opens importDir and issues the first read. True and "watching import dir" when the read is
// outstanding; false and "watch failed err=%lu" otherwise, with the watch closed.
[[nodiscard]] bool openWatch(Watch& watch);

// Completes the read, nominates every created, changed or renamed-to name and issues the
// next read. A 0-byte completion makes the full scan due now; a failed completion or re-arm
// logs "watch lost err=%lu, reopening", closes the watch and schedules a reopen in 5 s.
void takeNotifications(Watch& watch, Schedule& schedule);

// Cancels an outstanding read, waits until it has completed and closes the directory handle.
void closeWatch(Watch& watch);

// The names of the records in buffer[0, bytes) that count (added, modified, renamed-to), in
// buffer order. Stops at a record that does not fit the byte count.
std::vector<std::wstring> notifiedNames(const BYTE* buffer, DWORD bytes);

}  // namespace riz
