#pragma once

// What the stand-in tests share: the program folder, running a program and
// waiting for it, and reading the lines a stand-in appended to its record.
#include <windows.h>

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace standin_test {

inline std::string ProgramFolder() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  const std::string program(path);
  return program.substr(0, program.rfind('\\'));
}

inline std::uint64_t NowUnixMilliseconds() {
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  const std::uint64_t ticks = (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  return (ticks - 116444736000000000ULL) / 10000;
}

struct RunOutcome {
  DWORD exit_code;
  DWORD milliseconds;
};

// Runs a command line (with the given program, when not empty, and the given
// environment block, when not null); waits at most the limit, after which the
// exit code reads STILL_ACTIVE.
inline RunOutcome RunProgram(const std::string& command_line, DWORD limit_ms = 15000,
                             const std::string& program = "", char* environment = nullptr) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  std::vector<char> writable(command_line.begin(), command_line.end());
  writable.push_back('\0');
  const DWORD start = GetTickCount();
  if (!CreateProcessA(program.empty() ? nullptr : program.c_str(), writable.data(), nullptr, nullptr, FALSE,
                      CREATE_NO_WINDOW, environment, nullptr, &startup, &process)) {
    return RunOutcome{0xFFFFFFFF, 0};
  }
  WaitForSingleObject(process.hProcess, limit_ms);
  DWORD exit_code = 0xFFFFFFFF;
  GetExitCodeProcess(process.hProcess, &exit_code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return RunOutcome{exit_code, GetTickCount() - start};
}

// The lines a record gained since this reader was made, without line ends.
class RecordReader {
 public:
  explicit RecordReader(std::string path) : path_(std::move(path)), start_(Size()) {}

  std::vector<std::string> NewLines() const {
    std::ifstream file(path_, std::ios::binary);
    file.seekg(static_cast<std::streamoff>(start_));
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);) {
      if (!line.empty() && line.back() == '\r') {
        line.pop_back();
      }
      lines.push_back(line);
    }
    return lines;
  }

 private:
  std::uint64_t Size() const {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExA(path_.c_str(), GetFileExInfoStandard, &data)) {
      return 0;
    }
    return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  }

  std::string path_;
  std::uint64_t start_;
};

// The state of the service "WireGuardTunnel$" + `tunnel`, or 0 when the
// Service Control Manager does not know it.
inline DWORD StateOf(const std::string& tunnel) {
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  const std::wstring name = L"WireGuardTunnel$" + std::wstring(tunnel.begin(), tunnel.end());
  SC_HANDLE service = OpenServiceW(manager, name.c_str(), SERVICE_QUERY_STATUS);
  SERVICE_STATUS status{};
  const bool known = service != nullptr && QueryServiceStatus(service, &status);
  if (service != nullptr) {
    CloseServiceHandle(service);
  }
  CloseServiceHandle(manager);
  return known ? status.dwCurrentState : 0;
}

}  // namespace standin_test
