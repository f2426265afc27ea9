#include <cstddef>
#include <ctime>
#include <exception>
#include <string>

#include "vpn_plugin/owned.h"
#include "vpn_plugin/windows_vpn_plugin.h"

namespace tarvex {

// The log has no state: every line opens, appends, flushes and closes, so a
// line is with the system when Log returns, and other processes may read the
// file (or write it) in between. A line that cannot be written is dropped.
void WindowsVpnPlugin::Log(const std::string& message) {
  try {
    char* appdata_value = nullptr;
    std::size_t appdata_length = 0;
    if (windows_->DupEnv(&appdata_value, &appdata_length, "APPDATA") != 0 || appdata_value == nullptr) {
      return;
    }
    OwnedEnvValue appdata(*windows_, appdata_value);

    const std::string folder = std::string(appdata.get()) + "\\Tarvex";
    // An existing folder makes this fail, harmlessly; a folder that cannot be
    // made shows up as a file that does not open.
    windows_->CreateDirectoryA(folder.c_str(), nullptr);
    const std::string path = folder + "\\windows_vpn_debug.log";

    OwnedFile file(*windows_, windows_->FileOpen(path.c_str(), FileOpenMode::kAppendText));
    if (!file) {
      return;
    }
    std::tm local{};
    if (windows_->LocalTime64(&local, windows_->Time64()) != 0) {
      return;
    }
    char timestamp[20];
    const std::size_t timestamp_length =
        std::strftime(timestamp, sizeof timestamp, "%Y-%m-%d %H:%M:%S", &local);

    // Text mode turns the line feed into the platform's line end.
    const std::string line = "[" + std::string(timestamp, timestamp_length) + "] " + message + "\n";
    windows_->FileWrite(file.get(), line.data(), line.size());
    windows_->FileFlush(file.get());
  } catch (const std::exception& e) {
    try {
      windows_->OutputDebugStringA((std::string("WindowsVpnPlugin log error: ") + e.what()).c_str());
    } catch (...) {
      // Nothing is left to report with; the line is dropped.
    }
  }
}

}  // namespace tarvex
