// The Windows service runtime under the service control manager.
#pragma once
#include <windows.h>

namespace riz {

constexpr const wchar_t* kServiceName = L"Talvenor-Dev";

// The service main routine handed to the dispatcher: runs the engine until stopped.
void WINAPI serviceMain(DWORD argc, LPWSTR* argv);

}  // namespace riz
