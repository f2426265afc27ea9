// One external plugin library of the program, as a stand-in: its
// registration function records that it was called and does nothing else.
// Built once per plugin; the build names the plugin (TARVEX_PLUGIN_NAME)
// and exports RecordRegistration under the plugin's registration function
// name (a module-definition file).
//
// With TARVEX_STANDIN_PLUGIN_RECORD set, each registration appends one line
// to that file: "<plugin name> <name of the registrar's plugin>", or
// "<plugin name> null" for a null registrar handle.

#include <windows.h>

#include <cstdio>
#include <string>

#include "embedding/flutter_windows.h"

// The engine-library stand-in tells under which plugin name a registrar was
// obtained.
extern "C" __declspec(dllimport) const
    char* TarvexStandinRegistrarName(FlutterDesktopPluginRegistrar* registrar);

namespace {

std::wstring RecordPath() {
  const DWORD size = GetEnvironmentVariableW(L"TARVEX_STANDIN_PLUGIN_RECORD", nullptr, 0);
  if (size == 0) {
    return std::wstring();
  }
  std::wstring path(size, L'\0');
  path.resize(GetEnvironmentVariableW(L"TARVEX_STANDIN_PLUGIN_RECORD", &path[0], size));
  return path;
}

}  // namespace

extern "C" void RecordRegistration(FlutterDesktopPluginRegistrar* registrar) {
  const std::wstring path = RecordPath();
  if (path.empty()) {
    return;
  }
  std::string line = TARVEX_PLUGIN_NAME;
  if (registrar == nullptr) {
    line += " null\n";
  } else {
    const char* registrar_name = TarvexStandinRegistrarName(registrar);
    line += " ";
    line += registrar_name != nullptr ? registrar_name : "unknown";
    line += "\n";
  }
  // Opened and closed per line: the thirteen libraries share the file.
  std::FILE* file = _wfopen(path.c_str(), L"ab");
  if (file != nullptr) {
    std::fwrite(line.data(), 1, line.size(), file);
    std::fclose(file);
  }
}
