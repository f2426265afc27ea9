// The program's entry: one copy at a time, a console for a debugged process,
// COM, the Flutter application bundle, the window, and the message loop.

#include <windows.h>

#include <objbase.h>

#include <string>
#include <utility>
#include <vector>

#include "embedding/project_bundle.h"
#include "host/command_line.h"
#include "host/debug_console.h"
#include "host/flutter_window.h"

int APIENTRY wWinMain(_In_ HINSTANCE /*instance*/, _In_opt_ HINSTANCE /*previous_instance*/,
                      _In_ wchar_t* /*command_line*/, _In_ int /*show_command*/) {
  // Owned for the whole run; a second copy finds the name taken.
  HANDLE single_instance = CreateMutexW(nullptr, TRUE, L"TarvexSingleInstance");
  const DWORD mutex_error = GetLastError();
  if (mutex_error == ERROR_ALREADY_EXISTS) {
    MessageBoxW(nullptr, L"Tarvex is already running.", L"Tarvex", MB_ICONERROR);
    // The process ends at once, which closes the handle.
    return 1;
  }

  // Started from a console: its output goes there. Under a debugger without
  // one: a console of its own.
  if (!AttachConsole(ATTACH_PARENT_PROCESS) && IsDebuggerPresent()) {
    OpenDebugConsole();
  }

  // For plugins that use COM on the platform thread.
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

  flutter::ProjectBundle project(L"data");
  std::vector<std::string> command_line_arguments = GetCommandLineArguments();
  project.set_dart_entrypoint_arguments(std::move(command_line_arguments));

  FlutterWindow window(project);
  const Win32Window::Point origin = {10, 10};
  const Win32Window::Size size = {1280, 720};
  if (!window.Create(L"tarvex", origin, size)) {
    // The process ends at once, which releases COM and the mutex.
    return 1;
  }
  window.SetQuitOnClose(true);

  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }

  CoUninitialize();
  if (single_instance != nullptr) {
    ReleaseMutex(single_instance);
    CloseHandle(single_instance);
  }
  return 0;
}
