#include "host/command_line.h"

#include <windows.h>

#include <shellapi.h>

#include <cwchar>

std::vector<std::string> GetCommandLineArguments() {
  int count = 0;
  wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  if (arguments == nullptr) {
    return std::vector<std::string>();
  }
  std::vector<std::string> utf8_arguments;
  // The first is the program path, which the Dart side does not get.
  for (int i = 1; i < count; ++i) {
    utf8_arguments.push_back(WideToUtf8(arguments[i]));
  }
  LocalFree(arguments);
  return utf8_arguments;
}

std::string WideToUtf8(const wchar_t* text) {
  if (text == nullptr) {
    return std::string();
  }
  // Measured as a zero-terminated text, so the count includes the terminator.
  const int target_length =
      WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text, -1, nullptr, 0, nullptr, nullptr) - 1;
  if (target_length <= 0) {
    return std::string();
  }
  std::string utf8(static_cast<size_t>(target_length), '\0');
  const int converted =
      WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text, static_cast<int>(std::wcslen(text)), &utf8[0],
                          target_length, nullptr, nullptr);
  if (converted == 0) {
    return std::string();
  }
  return utf8;
}
