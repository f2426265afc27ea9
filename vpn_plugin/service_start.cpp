#include <exception>
#include <string>

#include "vpn_plugin/owned.h"
#include "vpn_plugin/text_conversion.h"
#include "vpn_plugin/windows_vpn_plugin.h"

namespace tarvex {

namespace {

constexpr Dword kPollMilliseconds = 500;
constexpr Dword kStartTimeoutMilliseconds = 30000;

}  // namespace

bool WindowsVpnPlugin::StartWireGuardService(const std::string& service_name) {
  Log("WindowsVpnPlugin::StartWireGuardService - Starting service: " + service_name);
  try {
    OwnedServiceHandle manager(*windows_, windows_->OpenSCManagerW(nullptr, nullptr, kScManagerConnect));
    if (!manager) {
      Log("WindowsVpnPlugin::StartWireGuardService - Failed to open service manager");
      return false;
    }
    OwnedServiceHandle service(*windows_,
                               windows_->OpenServiceW(manager.get(), WidenName(service_name).c_str(),
                                                      kServiceQueryStatus | kServiceStart));
    if (!service) {
      manager.Close();
      Log("WindowsVpnPlugin::StartWireGuardService - Failed to open service: " + service_name);
      return false;
    }
    const auto close_both = [&service, &manager] {
      service.Close();
      manager.Close();
    };

    if (!windows_->StartServiceW(service.get(), 0, nullptr)) {
      const Dword error = windows_->GetLastError();
      // A tunnel that already runs is what the caller wants.
      if (error != kErrorServiceAlreadyRunning) {
        close_both();
        Log("WindowsVpnPlugin::StartWireGuardService - Failed to start service: " + GetErrorMessage(error));
        return false;
      }
    }

    // The tick count wraps after 49.7 days; unsigned subtraction still gives
    // the elapsed time across the wrap.
    const Dword start = windows_->GetTickCount();
    for (;;) {
      ServiceStatus status{};
      if (!windows_->QueryServiceStatus(service.get(), &status)) {
        close_both();
        Log("WindowsVpnPlugin::StartWireGuardService - Failed to query service status");
        return false;
      }
      if (status.current_state == kServiceRunning) {
        close_both();
        Log("WindowsVpnPlugin::StartWireGuardService - Service started successfully");
        return true;
      }
      if (status.current_state == kServiceStopped) {
        close_both();
        Log("WindowsVpnPlugin::StartWireGuardService - Service failed to start");
        return false;
      }
      const Dword elapsed = windows_->GetTickCount() - start;
      if (elapsed > kStartTimeoutMilliseconds) {
        close_both();
        Log("WindowsVpnPlugin::StartWireGuardService - Service start timeout");
        return false;
      }
      windows_->Sleep(kPollMilliseconds);
    }
  } catch (const std::exception& e) {
    Log(std::string("WindowsVpnPlugin::StartWireGuardService - Exception: ") + e.what());
    return false;
  }
}

}  // namespace tarvex
