#pragma once

// What the Windows stand-ins share: wall-clock times a Linux-side reader can
// line up with its own clock, their own folder, appending one record line
// (to a file of their folder or one an environment variable names), and a
// crash.
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <string>

namespace standin {

inline std::uint64_t UnixMilliseconds(FILETIME time) {
  // FILETIME counts 100 ns steps since 1601; 1970 is this many steps later.
  constexpr std::uint64_t kUnixEpoch = 116444736000000000ULL;
  const std::uint64_t ticks = (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
  return ticks < kUnixEpoch ? 0 : (ticks - kUnixEpoch) / 10000;
}

inline std::uint64_t NowUnixMilliseconds() {
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  return UnixMilliseconds(now);
}

inline std::wstring OwnPath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

// The folder the program lies in, with its closing backslash.
inline std::wstring OwnFolder() {
  const std::wstring path = OwnPath();
  return path.substr(0, path.rfind(L'\\') + 1);
}

// The path an environment variable names, or empty when it is not set.
inline std::wstring PathFromEnvironment(const wchar_t* variable) {
  const DWORD size = GetEnvironmentVariableW(variable, nullptr, 0);
  if (size == 0) {
    return std::wstring();
  }
  std::wstring path(size, L'\0');
  path.resize(GetEnvironmentVariableW(variable, path.data(), size));
  return path;
}

// Opens, appends the line in one write and closes again: several processes
// (callers, services) append to one record, at times at once, and tests read
// it between two runs, so nobody holds it and no line is split.
inline bool AppendLine(const std::wstring& path, const std::string& line) {
  const HANDLE file =
      CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return false;
  }
  DWORD written = 0;
  const bool complete = WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr) &&
                        written == line.size();
  CloseHandle(file);
  return complete;
}

// Ends the process the way a faulty program ends: a write to address 0, a
// real access violation (exception and exit code 0xC0000005). The address is
// read through a volatile, so the compiler cannot see the null and turn the
// write into a trap instruction of its own.
[[noreturn]] inline void CrashWithAccessViolation() {
  volatile std::uintptr_t address = 0;
  *reinterpret_cast<volatile int*>(address) = 1;
  std::abort();  // not reached: the write faults
}

}  // namespace standin
