#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "vpn_plugin/windows_api.h"

namespace tarvex {

// What became of one hidden child process.
struct ChildProcessOutcome {
  bool started = false;
  // GetLastError of the failed start.
  Dword error = 0;
  // The exit code after the wait: kStillActive when the process outlived it,
  // kExitCodeUnknown when it never started or cannot be read.
  Dword exit_code = 0;
};

// Never 0, which every caller reads as success.
constexpr Dword kExitCodeUnknown = 0xFFFFFFFF;

// Runs `command_line` as a hidden child process (no window, no inherited
// handles) and waits for it at most `wait_milliseconds`. A process still
// running then is left running. Without `application` the program is the
// command line's first word, searched for as Windows does; with it, exactly
// that file runs.
ChildProcessOutcome RunHiddenCommand(WindowsApi& windows, std::string_view command_line,
                                     Dword wait_milliseconds,
                                     const std::optional<std::string>& application = std::nullopt);

}  // namespace tarvex
