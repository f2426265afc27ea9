// Stand-in for the Windows Firewall tool netsh.exe, for tests under Wine:
// changes nothing, appends the command line it was started with to
// netsh-standin.log beside itself, and exits 0.
//
// Installed over Wine's placeholder in the prefix's system folder; Wine runs
// it instead of its built-in netsh only with WINEDLLOVERRIDES=netsh.exe=n.
#include <windows.h>

#include <cstdio>
#include <string>

#include "standins/record/standin_record.h"

int main() {
  const std::string started = std::to_string(standin::NowUnixMilliseconds());
  // The bytes exactly as the caller passed them, quotes and blanks included.
  const std::string command_line = GetCommandLineA();
  const std::string line =
      started + " " + std::to_string(standin::NowUnixMilliseconds()) + " " + command_line + "\r\n";
  if (!standin::AppendLine(standin::OwnFolder() + L"netsh-standin.log", line)) {
    std::fprintf(stderr, "netsh stand-in: cannot append to its record\n");
  }
  return 0;
}
