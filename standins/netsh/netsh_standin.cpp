// Stand-in for the Windows Firewall tool netsh.exe, for tests under Wine:
// changes nothing, appends the command line it was started with to
// netsh-standin.log beside itself, and exits 0.
//
// A test makes one chosen command misbehave with a line in
// netsh-standin.faults beside the program: "hang <text>" or "crash <text>",
// for a command whose command line contains the text.
//
// Installed over Wine's placeholder in the prefix's system folder; Wine runs
// it instead of its built-in netsh only with WINEDLLOVERRIDES=netsh.exe=n.
#include <windows.h>

#include <cstdio>
#include <string>
#include <string_view>

#include "standins/record/standin_record.h"

namespace {

// Past the 5 s a caller waits for each command.
constexpr DWORD kHangMs = 6000;

enum class Fault { kNone, kHang, kCrash };

Fault FaultFor(std::string_view command_line) {
  std::FILE* faults = _wfopen((standin::OwnFolder() + L"netsh-standin.faults").c_str(), L"rb");
  if (faults == nullptr) {
    return Fault::kNone;
  }
  Fault fault = Fault::kNone;
  char buffer[4096];
  while (fault == Fault::kNone && std::fgets(buffer, sizeof buffer, faults) != nullptr) {
    std::string_view line(buffer);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
      line.remove_suffix(1);
    }
    const std::string_view word = line.substr(0, line.find(' '));
    const std::string_view text = line.substr(word.size() < line.size() ? word.size() + 1 : line.size());
    if (!text.empty() && command_line.find(text) != std::string_view::npos) {
      fault = word == "hang" ? Fault::kHang : word == "crash" ? Fault::kCrash : Fault::kNone;
    }
  }
  std::fclose(faults);
  return fault;
}

void Record(const std::string& started, const std::string& command_line) {
  const std::string line =
      started + " " + std::to_string(standin::NowUnixMilliseconds()) + " " + command_line + "\r\n";
  if (!standin::AppendLine(standin::OwnFolder() + L"netsh-standin.log", line)) {
    std::fprintf(stderr, "netsh stand-in: cannot append to its record\n");
  }
}

}  // namespace

int main() {
  const std::string started = std::to_string(standin::NowUnixMilliseconds());
  // The bytes exactly as the caller passed them, quotes and blanks included.
  const std::string command_line = GetCommandLineA();
  const Fault fault = FaultFor(command_line);
  if (fault == Fault::kHang) {
    Sleep(kHangMs);
  }
  // A hanging command's line shows how long it hung; a crashing one's is
  // written just before the crash.
  Record(started, command_line);
  if (fault == Fault::kCrash) {
    standin::CrashWithAccessViolation();
  }
  return 0;
}
