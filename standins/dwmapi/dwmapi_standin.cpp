// dwmapi.dll as a stand-in, for watching the program's title-bar theme under
// Wine, whose DwmSetWindowAttribute changes nothing one could observe. Put
// beside the program, it is loaded in place of the system's library (Wine,
// like Windows, looks in the program's folder first).
//
// With TARVEX_STANDIN_DWMAPI_RECORD set, each DwmSetWindowAttribute call
// appends one line to that file:
//   DwmSetWindowAttribute <window class> <attribute> <size> <value>
// where the value is the first four bytes read as a 32-bit number (when the
// size allows). The call succeeds.

#include <windows.h>

#include <cstring>
#include <string>

#include "standins/record/standin_record.h"

extern "C" __declspec(dllexport) HRESULT WINAPI
    DwmSetWindowAttribute(HWND window, DWORD attribute, LPCVOID value, DWORD size) {
  const std::wstring record = standin::PathFromEnvironment(L"TARVEX_STANDIN_DWMAPI_RECORD");
  if (record.empty()) {
    return S_OK;
  }
  char class_name[64] = {};
  if (GetClassNameA(window, class_name, sizeof(class_name)) == 0) {
    std::strcpy(class_name, "none");
  }
  std::string line = "DwmSetWindowAttribute " + std::string(class_name) + " " + std::to_string(attribute) +
                     " " + std::to_string(size);
  if (value != nullptr && size >= sizeof(DWORD)) {
    DWORD number = 0;
    std::memcpy(&number, value, sizeof(number));
    line += " " + std::to_string(number);
  }
  standin::AppendLine(record, line + "\n");
  return S_OK;
}
