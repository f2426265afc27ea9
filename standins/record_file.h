#pragma once

// The record a Windows stand-in library keeps for tests: one line appended to
// the file an environment variable names, or nothing when it is not set.
// Opened and closed per line, since several libraries of one process may
// share the file.

#include <windows.h>

#include <cstdio>
#include <string>

namespace standin {

inline void AppendRecordLine(const wchar_t* variable, const std::string& line) {
  const DWORD size = GetEnvironmentVariableW(variable, nullptr, 0);
  if (size == 0) {
    return;
  }
  std::wstring path(size, L'\0');
  path.resize(GetEnvironmentVariableW(variable, &path[0], size));
  std::FILE* file = _wfopen(path.c_str(), L"ab");
  if (file == nullptr) {
    return;
  }
  std::fwrite(line.data(), 1, line.size(), file);
  std::fputc('\n', file);
  std::fclose(file);
}

}  // namespace standin
