// What the Windows library does when it loads, and its exports beyond the
// engine library's interface.

#include <windows.h>

#include "embedding/flutter_windows.h"
#include "standins/engine/dialog_watcher.h"
#include "standins/engine/standin_engine.h"
#include "standins/engine/win32_environment.h"

// With TARVEX_STANDIN_ACCEPT_DIALOGS=1 the dialog watcher starts as the
// library loads, so a message box the program shows before its first call
// into the library is recorded and dismissed too.
extern "C" BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD reason, LPVOID /*reserved*/) {
  if (reason == DLL_PROCESS_ATTACH && standin::ReadEnvironmentNumber(L"TARVEX_STANDIN_ACCEPT_DIALOGS") == 1) {
    standin::AcceptDialogs(standin::ProcessTranscript());
  }
  return TRUE;
}

// For the plugin stand-ins: the plugin name `registrar` was obtained under,
// or null for a handle the library does not know.
extern "C" __declspec(dllexport) const
    char* TarvexStandinRegistrarName(FlutterDesktopPluginRegistrar* registrar) {
  return standin::RegistrarPluginName(registrar);
}
