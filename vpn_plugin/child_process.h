#pragma once

#include <string_view>

#include "vpn_plugin/windows_api.h"

namespace tarvex {

// What became of one hidden child process.
struct ChildProcessOutcome {
  bool started = false;
  // GetLastError of the failed start.
  Dword error = 0;
  // The exit code after the wait: kStillActive when the process outlived it.
  Dword exit_code = 0;
};

// Runs `command_line` as a hidden child process (no window, no inherited
// handles) and waits for it at most `wait_milliseconds`. A process still
// running then is left running.
ChildProcessOutcome RunHiddenCommand(WindowsApi& windows, std::string_view command_line,
                                     Dword wait_milliseconds);

}  // namespace tarvex
