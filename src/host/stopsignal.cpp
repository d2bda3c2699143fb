#include "host/stopsignal.h"

namespace riz {

HANDLE stopEvent = nullptr;

void createStopEvent() { stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr); }

BOOL WINAPI consoleControlHandler(DWORD) {
  // Every console event (Ctrl+C, Ctrl+Break, close, logoff, shutdown) asks for a clean stop
  // instead of the default handling, which would end the process at once.
  if (stopEvent != nullptr) SetEvent(stopEvent);
  return TRUE;
}

bool stopRequested() {
  return stopEvent != nullptr && WaitForSingleObject(stopEvent, 0) == WAIT_OBJECT_0;
}

}  // namespace riz
