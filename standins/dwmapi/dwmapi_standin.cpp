// dwmapi.dll as a stand-in, for watching the program's title-bar theme under
// Wine, whose DwmSetWindowAttribute changes nothing one could observe. Loaded
// in place of the system's library with WINEDLLOVERRIDES="dwmapi=n" from the
// program's folder.
//
// With TARVEX_STANDIN_DWMAPI_RECORD set, each DwmSetWindowAttribute call
// appends one line to that file:
//   DwmSetWindowAttribute <window class> <attribute> <size> <value>
// where the value is the first four bytes read as a 32-bit number (when the
// size allows). The call succeeds.

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

std::wstring RecordPath() {
  const DWORD size = GetEnvironmentVariableW(L"TARVEX_STANDIN_DWMAPI_RECORD", nullptr, 0);
  if (size == 0) {
    return std::wstring();
  }
  std::wstring path(size, L'\0');
  path.resize(GetEnvironmentVariableW(L"TARVEX_STANDIN_DWMAPI_RECORD", &path[0], size));
  return path;
}

}  // namespace

extern "C" __declspec(dllexport) HRESULT WINAPI
    DwmSetWindowAttribute(HWND window, DWORD attribute, LPCVOID value, DWORD size) {
  const std::wstring path = RecordPath();
  if (path.empty()) {
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
  line += "\n";
  std::FILE* file = _wfopen(path.c_str(), L"ab");
  if (file != nullptr) {
    std::fwrite(line.data(), 1, line.size(), file);
    std::fclose(file);
  }
  return S_OK;
}
