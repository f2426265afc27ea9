#include <memory>

#include "vpn_plugin/win32/win32_api.h"
#include "vpn_plugin/windows_vpn_plugin.h"

namespace tarvex {

WindowsVpnPlugin::WindowsVpnPlugin() : WindowsVpnPlugin(std::make_unique<Win32Api>()) {}

void WindowsVpnPlugin::RegisterWithRegistrar(flutter::PluginRegistrarWindows* registrar) {
  RegisterWithRegistrar(registrar, std::make_unique<Win32Api>());
}

}  // namespace tarvex
