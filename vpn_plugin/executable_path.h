#pragma once

#include <optional>
#include <string>

#include "vpn_plugin/windows_api.h"

namespace tarvex {

// The running program's full path from GetModuleFileNameA with a buffer of
// MAX_PATH. Nothing when the call fails or fills the whole buffer: an empty
// path would put "\bin\wireguard.exe" at the root of the current drive, and a
// path cut short names some other folder, so neither may stand for ours.
std::optional<std::string> ReadExecutablePath(WindowsApi& windows);

// The path up to, not including, its last backslash; the whole path when it
// has none.
std::string FolderOf(const std::string& path);

}  // namespace tarvex
