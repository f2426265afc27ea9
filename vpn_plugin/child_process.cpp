#include "vpn_plugin/child_process.h"

#include <vector>

#include "vpn_plugin/owned.h"

namespace tarvex {

ChildProcessOutcome RunHiddenCommand(WindowsApi& windows, std::string_view command_line,
                                     Dword wait_milliseconds, const std::optional<std::string>& application) {
  StartupInfo startup{};
  startup.flags = kStartfUseShowWindow;
  startup.show_window = kSwHide;
  // CreateProcessA may write into the command line, so it gets a copy.
  std::vector<char> writable(command_line.begin(), command_line.end());
  writable.push_back('\0');

  ProcessInformation started{};
  if (!windows.CreateProcessA(application ? application->c_str() : nullptr, writable.data(), false,
                              kCreateNoWindow, startup, &started)) {
    const Dword error = windows.GetLastError();
    return ChildProcessOutcome{false, error, kExitCodeUnknown};
  }
  OwnedHandle process(windows, started.process);
  OwnedHandle thread(windows, started.thread);

  windows.WaitForSingleObject(process.get(), wait_milliseconds);
  Dword exit_code = kExitCodeUnknown;
  if (!windows.GetExitCodeProcess(process.get(), &exit_code)) {
    exit_code = kExitCodeUnknown;
  }
  process.Close();
  thread.Close();
  return ChildProcessOutcome{true, 0, exit_code};
}

}  // namespace tarvex
