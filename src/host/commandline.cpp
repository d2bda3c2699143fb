#include "host/commandline.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cstdarg>
#include <cstdio>
#include <cwchar>

#include "config/settings.h"
#include "config/statedir.h"
#include "config/text.h"
#include "credentials/secretstore.h"
#include "diag/log.h"
#include "engine/engine.h"
#include "fileutil/fileutil.h"
#include "host/service.h"
#include "host/stopsignal.h"
#include "server/token.h"

namespace riz {
namespace {

bool hasOption(int argc, wchar_t** argv, const wchar_t* option) {
  for (int i = 1; i < argc; ++i) {
    if (wcscmp(argv[i], option) == 0) return true;
  }
  return false;
}

int runServiceDispatcher() {
  SERVICE_TABLE_ENTRYW table[] = {{const_cast<LPWSTR>(kServiceName), serviceMain},
                                  {nullptr, nullptr}};
  if (!StartServiceCtrlDispatcherW(table)) {
    consolePrint(
        "Talvenor Rizurarirove\n  --install | --uninstall | --set-secret-file <datei> | --check "
        "| --console\n");
    return 1;
  }
  return 0;
}

int runVerifySecretFile(int argc, wchar_t** argv) {
  std::string secret;
  if (!readSecretFile(optionValue(argc, argv, L"--verify-secret-file"), secret)) return 1;
  std::wstring tokenUrl = optionValue(argc, argv, L"--token-url");
  if (tokenUrl.empty()) tokenUrl = settings.tokenUrl;
  std::string clientId = toUtf8(optionValue(argc, argv, L"--client-id"));
  int result = verifyClientSecret(tokenUrl, clientId, secret);
  wipeBytes(secret);
  return result;
}

int runSetSecretFile(int argc, wchar_t** argv) {
  std::string secret;
  bool ok = readSecretFile(optionValue(argc, argv, L"--set-secret-file"), secret) &&
            storeSecret(kServiceSecretName, secret);
  wipeBytes(secret);
  if (!ok) {
    consolePrint("Fehler: Secret nicht gespeichert (Administratorrechte?).\n");
    return 1;
  }
  consolePrint("Secret gespeichert (HKLM, DPAPI).\n");
  return 0;
}

int runCheck() {
  std::string secret;
  const bool haveSecret = loadSecret(kServiceSecretName, secret);
  std::wstring joined;
  for (const std::wstring& ext : settings.extensions) {
    if (!joined.empty()) joined += L",";
    joined += ext;
  }
  consolePrint("PDF löschen:   %s\n",
               settings.deletePdf ? "ja, sobald der Server sie bestätigt hat" : "nein");
  const bool importExists =
      GetFileAttributesW(settings.importDir.c_str()) != INVALID_FILE_ATTRIBUTES;
  consolePrint("Konfiguration: %s\n", toUtf8(settings.iniPath).c_str());
  if (settings.iniOpenError != 0) {
    // Otherwise the defaults below would pass for the configured values.
    consolePrint("Warnung:       service.ini nicht lesbar (Fehler %lu), Standardwerte gelten\n",
                 settings.iniOpenError);
  }
  consolePrint(
      "Server:        %s\nClient:        %s\nImport:        %s (%s)\n"
      "Endungen:      %s\nStatus:        %s\nSecret:        %s\n",
      toUtf8(settings.serverUrl).c_str(), settings.clientId.c_str(),
      toUtf8(settings.importDir).c_str(), importExists ? "vorhanden" : "fehlt",
      toUtf8(joined).c_str(), toUtf8(settings.stateDir).c_str(),
      haveSecret ? "vorhanden" : "FEHLT");
  if (haveSecret) {
    TokenClient client(settings.tokenUrl, settings.clientId, secret);
    wipeBytes(secret);
    const bool tokenOk = !getAccessToken(client, false).empty();
    consolePrint("Token:         %s\n", tokenOk ? "ok" : "FEHLER");
  }
  return 0;
}

int runConsole() {
  if (!prepareStateDirectories()) {
    consolePrint("Fehler: Statusverzeichnis nicht anlegbar (Administratorrechte?).\n");
    return 1;
  }
  initLog(settings.stateDir + L"\\service.log", true);
  createStopEvent();
  SetConsoleCtrlHandler(consoleControlHandler, TRUE);
  consolePrint("Läuft im Vordergrund, Protokoll: %s\\service.log. Strg+C beendet.\n",
               toUtf8(settings.stateDir).c_str());
  logIniOpenError();
  runEngine();
  return 0;
}

}  // namespace

void setBinaryStdout() {
  fflush(stdout);
  _setmode(_fileno(stdout), _O_BINARY);
}

void consolePrint(const char* format, ...) {
  va_list args;
  va_start(args, format);
  vfprintf(stdout, format, args);
  va_end(args);
  fflush(stdout);
}

std::wstring optionValue(int argc, wchar_t** argv, const wchar_t* option) {
  for (int i = 1; i + 1 < argc; ++i) {
    if (wcscmp(argv[i], option) == 0) return argv[i + 1];
  }
  return {};
}

int runCommandLine(int argc, wchar_t** argv) {
  // The program formats its own line ends; the C runtime must not add a CR to them.
  setBinaryStdout();
  if (argc < 2) return runServiceDispatcher();
  loadSettings();
  if (hasOption(argc, argv, L"--verify-secret-file")) return runVerifySecretFile(argc, argv);
  if (hasOption(argc, argv, L"--set-secret-file")) return runSetSecretFile(argc, argv);
  if (hasOption(argc, argv, L"--check")) return runCheck();
  if (hasOption(argc, argv, L"--console")) return runConsole();
  consolePrint("Unbekannte Option.\n");
  return 1;
}

}  // namespace riz
