#include <cstdint>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "vpn_plugin/owned.h"
#include "vpn_plugin/text_conversion.h"
#include "vpn_plugin/windows_vpn_plugin.h"

namespace tarvex {

namespace {

// A list that keeps growing between calls must not hold the check forever.
constexpr int kMaxEnumerationFetches = 8;

// The service name of one enumeration record. The record and its string lie
// in a byte buffer, so both are copied out rather than read through casts.
std::string NarrowNameAt(const char16_t* wide) {
  std::u16string name;
  const auto* bytes = reinterpret_cast<const unsigned char*>(wide);
  for (;; bytes += sizeof(char16_t)) {
    char16_t unit;
    std::memcpy(&unit, bytes, sizeof unit);
    if (unit == 0) {
      break;
    }
    name.push_back(unit);
  }
  return NarrowName(name);
}

bool IsTunnelServiceName(const std::string& name) {
  return name.rfind("WireGuardTunnel$", 0) == 0 || name.rfind("tarvex_", 0) == 0;
}

}  // namespace

void WindowsVpnPlugin::IsConnected(const MethodCall& /*call*/, std::unique_ptr<MethodResult> result) {
  Log("WindowsVpnPlugin::IsConnected called");
  try {
    const bool connected = CheckWindowsVPNConnection();
    Log(std::string("WindowsVpnPlugin::IsConnected - Connection status: ") + (connected ? "true" : "false"));
    result->Success(flutter::EncodableValue(connected));
  } catch (const std::exception& e) {
    Log(std::string("WindowsVpnPlugin::IsConnected - Exception: ") + e.what());
    result->Error("CHECK_CONNECTION_ERROR", std::string("Failed to check connection: ") + e.what());
  }
}

bool WindowsVpnPlugin::CheckWindowsVPNConnection() {
  Log("WindowsVpnPlugin::CheckWindowsVPNConnection called");
  try {
    for (const auto& tunnel : tunnels_) {
      if (IsVPNConnected(tunnel.first)) {
        Log("WindowsVpnPlugin::CheckWindowsVPNConnection - WireGuard VPN connected: " + tunnel.first);
        return true;
      }
    }
    if (CheckWireGuardServices()) {
      Log("WindowsVpnPlugin::CheckWindowsVPNConnection - WireGuard service found");
      return true;
    }
    Log("WindowsVpnPlugin::CheckWindowsVPNConnection - No WireGuard connections found");
    return false;
  } catch (const std::exception& e) {
    Log(std::string("WindowsVpnPlugin::CheckWindowsVPNConnection - Exception: ") + e.what());
    return false;
  }
}

bool WindowsVpnPlugin::IsVPNConnected(const std::string& network_id) {
  try {
    const std::string service_name = "WireGuardTunnel$tarvex_" + network_id;
    OwnedServiceHandle manager(*windows_,
                               windows_->OpenSCManagerW(nullptr, nullptr, kScManagerEnumerateService));
    if (!manager) {
      Log("WindowsVpnPlugin::IsVPNConnected - Failed to open service manager");
      return false;
    }
    OwnedServiceHandle service(
        *windows_,
        windows_->OpenServiceW(manager.get(), WidenName(service_name).c_str(), kServiceQueryStatus));
    if (!service) {
      manager.Close();
      Log("WindowsVpnPlugin::IsVPNConnected - Service " + service_name + " not found");
      return false;
    }
    ServiceStatus status{};
    if (!windows_->QueryServiceStatus(service.get(), &status)) {
      service.Close();
      manager.Close();
      Log("WindowsVpnPlugin::IsVPNConnected - Failed to query service status");
      return false;
    }
    service.Close();
    manager.Close();
    const bool running = status.current_state == kServiceRunning;
    Log("WindowsVpnPlugin::IsVPNConnected - Service " + service_name +
        " status: " + (running ? "RUNNING" : "NOT RUNNING"));
    return running;
  } catch (const std::exception& e) {
    Log(std::string("WindowsVpnPlugin::IsVPNConnected - Exception: ") + e.what());
    return false;
  }
}

bool WindowsVpnPlugin::CheckWireGuardServices() {
  try {
    OwnedServiceHandle manager(*windows_,
                               windows_->OpenSCManagerW(nullptr, nullptr, kScManagerEnumerateService));
    if (!manager) {
      Log("WindowsVpnPlugin::CheckWireGuardServices - Failed to open service manager");
      return false;
    }

    Dword bytes_needed = 0;
    Dword services_returned = 0;
    Dword resume_handle = 0;
    // Sizing call: only the bytes needed matter.
    windows_->EnumServicesStatusExW(manager.get(), kScEnumProcessInfo, kServiceWin32, kServiceStateAll,
                                    nullptr, 0, &bytes_needed, &services_returned, &resume_handle, nullptr);
    if (bytes_needed == 0) {
      manager.Close();
      return false;
    }

    // Services installed between two calls make a fetch come back short with
    // ERROR_MORE_DATA; what it did return is scanned, and the rest is fetched
    // from the resume position with a buffer sized by the bytes it reported.
    for (int fetch = 1; fetch <= kMaxEnumerationFetches; ++fetch) {
      std::vector<std::uint8_t> buffer(bytes_needed);
      const bool complete = windows_->EnumServicesStatusExW(
          manager.get(), kScEnumProcessInfo, kServiceWin32, kServiceStateAll, buffer.data(), bytes_needed,
          &bytes_needed, &services_returned, &resume_handle, nullptr);
      const Dword error = complete ? 0 : windows_->GetLastError();
      if (!complete && error != kErrorMoreData) {
        manager.Close();
        return false;
      }
      for (Dword i = 0; i < services_returned; ++i) {
        EnumServiceStatusProcess entry;
        std::memcpy(&entry, buffer.data() + i * sizeof entry, sizeof entry);
        const std::string name = NarrowNameAt(entry.service_name);
        if (IsTunnelServiceName(name) && entry.status.current_state == kServiceRunning) {
          manager.Close();
          Log("WindowsVpnPlugin::CheckWireGuardServices - Found running WireGuard service: " + name);
          return true;
        }
      }
      if (complete || bytes_needed == 0) {
        break;
      }
    }
    manager.Close();
    return false;
  } catch (const std::exception& e) {
    Log(std::string("WindowsVpnPlugin::CheckWireGuardServices - Exception: ") + e.what());
    return false;
  }
}

}  // namespace tarvex
