#pragma once

#include "standins/engine/script_commands.h"

namespace standin {

// What this process holds right now, as the "process report" script line
// writes it. Each figure comes from the source that Wine answers truly
// (GetProcessHandleCount answers 0 there, GetProcessMemoryInfo's private
// usage stays 0):
//   handles    the system's handle list (NtQuerySystemInformation), this
//              process's entries counted;
//   gdi, user  GetGuiResources, empty when it fails (as it does under Wine);
//   threads    a toolhelp snapshot of the system's threads, this process's
//              counted;
//   committed  GetProcessMemoryInfo's page-file usage, the memory committed
//              for this process;
//   working    GetProcessMemoryInfo's working set.
ProcessReport ReportProcess();

}  // namespace standin
