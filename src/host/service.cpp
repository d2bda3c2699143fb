#include "host/service.h"

#include "config/settings.h"
#include "config/statedir.h"
#include "diag/log.h"
#include "engine/engine.h"
#include "host/stopsignal.h"

namespace riz {
namespace {

SERVICE_STATUS_HANDLE statusHandle = nullptr;
SERVICE_STATUS serviceStatus{};

void reportStatus(DWORD state, DWORD controlsAccepted, DWORD exitCode, DWORD waitHint) {
  serviceStatus.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  serviceStatus.dwCurrentState = state;
  serviceStatus.dwControlsAccepted = controlsAccepted;
  serviceStatus.dwWin32ExitCode = exitCode;
  serviceStatus.dwServiceSpecificExitCode = 0;
  serviceStatus.dwCheckPoint = 0;
  serviceStatus.dwWaitHint = waitHint;
  SetServiceStatus(statusHandle, &serviceStatus);
}

DWORD WINAPI serviceControlHandler(DWORD control, DWORD, LPVOID, LPVOID) {
  if (control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_SHUTDOWN) {
    reportStatus(SERVICE_STOP_PENDING, 0, NO_ERROR, 10000);
    SetEvent(stopEvent);
  }
  return NO_ERROR;
}

}  // namespace

void logIniOpenError() {
  if (settings.iniOpenError != 0) {
    logLine("service.ini unreadable err=%lu, using defaults", settings.iniOpenError);
  }
}

void WINAPI serviceMain(DWORD, LPWSTR*) {
  statusHandle = RegisterServiceCtrlHandlerExW(kServiceName, serviceControlHandler, nullptr);
  if (statusHandle == nullptr) return;
  reportStatus(SERVICE_START_PENDING, 0, NO_ERROR, 10000);
  loadSettings();
  if (!prepareStateDirectories()) {
    reportStatus(SERVICE_STOPPED, 0, ERROR_ACCESS_DENIED, 0);
    return;
  }
  initLog(settings.stateDir + L"\\service.log", false);
  logIniOpenError();
  createStopEvent();
  reportStatus(SERVICE_RUNNING, SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN, NO_ERROR, 0);
  runEngine();
  reportStatus(SERVICE_STOPPED, 0, NO_ERROR, 0);
}

}  // namespace riz
