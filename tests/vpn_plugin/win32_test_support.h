#pragma once

#include <windows.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace tarvex {

// The folder of the running test program, where the helper program lies too.
inline std::string ProgramFolder() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder(path);
  return folder.substr(0, folder.rfind('\\'));
}

inline std::string HelperProgram() { return ProgramFolder() + "\\vpn_plugin_child_helper.exe"; }

// Points APPDATA (as the C runtime sees it) at an empty scratch folder and
// answers the log file's path in it.
inline std::string UseScratchAppData(const std::string& name) {
  const std::string folder = ProgramFolder() + "\\" + name;
  CreateDirectoryA(folder.c_str(), nullptr);
  const std::string log = folder + "\\Tarvex\\windows_vpn_debug.log";
  DeleteFileA(log.c_str());
  _putenv(("APPDATA=" + folder).c_str());
  return log;
}

inline std::string ReadBinary(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream contents;
  contents << file.rdbuf();
  return contents.str();
}

}  // namespace tarvex
