// The process-wide stop signal of the engine.
#pragma once
#include <windows.h>

namespace riz {

// Manual-reset event, set to stop the engine; nullptr until createStopEvent.
extern HANDLE stopEvent;

// Creates stopEvent (manual reset, not signalled). Called once per process.
void createStopEvent();

// Console handler for --console: sets stopEvent for every console event, returns TRUE.
BOOL WINAPI consoleControlHandler(DWORD controlType);

// True when stopEvent exists and is set (a zero-timeout test).
bool stopRequested();

}  // namespace riz
