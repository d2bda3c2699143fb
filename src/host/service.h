// The Windows service runtime under the service control manager.
#pragma once
#include <windows.h>

namespace riz {

constexpr const wchar_t* kServiceName = L"Talvenor-Dev";

// The service main routine handed to the dispatcher: runs the engine until stopped.
void WINAPI serviceMain(DWORD argc, LPWSTR* argv);

// Logs that service.ini exists but could not be read, so the defaults are in force.
// Nothing when it was read or is absent. Call after initLog.
void logIniOpenError();

}  // namespace riz
