#include "vpn_plugin/executable_path.h"

namespace tarvex {

std::optional<std::string> ReadExecutablePath(WindowsApi& windows) {
  char path[kMaxPath] = {};
  const Dword length = windows.GetModuleFileNameA(nullptr, path, kMaxPath);
  if (length == 0 || length >= kMaxPath) {
    return std::nullopt;
  }
  return std::string(path, length);
}

std::string FolderOf(const std::string& path) {
  const std::string::size_type last_backslash = path.rfind('\\');
  return last_backslash == std::string::npos ? path : path.substr(0, last_backslash);
}

}  // namespace tarvex
