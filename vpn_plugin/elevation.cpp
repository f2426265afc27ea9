#include <exception>
#include <string>

#include "vpn_plugin/owned.h"
#include "vpn_plugin/text_conversion.h"
#include "vpn_plugin/windows_vpn_plugin.h"

namespace tarvex {

namespace {

// How long an accepted elevated program may hold the call before it goes on
// without it.
constexpr Dword kElevatedWaitMilliseconds = 30000;

// The user reads these boxes in Portuguese. The texts are UTF-8, spelled with
// universal character names so that every compiler reads the same bytes
// whatever code page it assumes for the source.
void ShowMessage(WindowsApi& windows, const char* text, const char* caption, unsigned icon) {
  windows.MessageBoxW(nullptr, Utf8ToUtf16(text).c_str(), Utf8ToUtf16(caption).c_str(), kMbOk | icon);
}

}  // namespace

bool WindowsVpnPlugin::IsRunningAsAdmin() {
  Sid sid = nullptr;
  if (!windows_->AllocateAndInitializeSid(kSecurityNtAuthority, 2, kSecurityBuiltinDomainRid,
                                          kDomainAliasRidAdmins, 0, 0, 0, 0, 0, 0, &sid)) {
    return false;
  }
  OwnedSid administrators(*windows_, sid);
  // No token: the calling thread's effective token, whose group must be
  // enabled, so an administrator running unelevated answers false.
  int is_member = 0;
  if (!windows_->CheckTokenMembership(nullptr, administrators.get(), &is_member)) {
    is_member = 0;
  }
  administrators.Close();
  return is_member == 1;
}

bool WindowsVpnPlugin::RunElevatedCommand(const std::string& program, const std::string& parameters) {
  Log("WindowsVpnPlugin::RunElevatedCommand - Command: " + program + " Params: " + parameters);
  try {
    ShowMessage(
        *windows_,
        u8"Tarvex precisa instalar o driver de rede do WireGuard.\n\nIsso requer privil\u00e9gios de "
        u8"administrador apenas uma vez para:\n\u2022 Instalar o driver de rede necess\u00e1rio\n\u2022 "
        u8"Configurar o servi\u00e7o VPN\n\nAp\u00f3s esta instala\u00e7\u00e3o inicial, o app "
        u8"funcionar\u00e1 normalmente sem pedir admin novamente.",
        u8"Instala\u00e7\u00e3o do Driver WireGuard", kMbIconInformation);

    ShellExecuteInfo request{};
    request.mask = kSeeMaskNoCloseProcess;
    request.window = nullptr;
    request.verb = "runas";
    request.file = program.c_str();
    request.parameters = parameters.c_str();
    request.directory = nullptr;
    request.show = kSwHide;
    if (!windows_->ShellExecuteExA(&request)) {
      const Dword error = windows_->GetLastError();
      Log("WindowsVpnPlugin::RunElevatedCommand - ShellExecuteEx failed: " + GetErrorMessage(error));
      if (error == kErrorCancelled) {
        Log("WindowsVpnPlugin::RunElevatedCommand - User cancelled elevation");
        ShowMessage(*windows_,
                    u8"A instala\u00e7\u00e3o foi cancelada pelo usu\u00e1rio.\n\nPara usar a VPN, ser\u00e1 "
                    u8"necess\u00e1rio aceitar a eleva\u00e7\u00e3o quando solicitado.",
                    u8"Instala\u00e7\u00e3o Cancelada", kMbIconWarning);
      }
      return false;
    }

    OwnedHandle process(*windows_, request.process);
    if (process) {
      // The program's outcome is not ours to judge; it keeps running if slow.
      windows_->WaitForSingleObject(process.get(), kElevatedWaitMilliseconds);
      process.Close();
    }
    Log("WindowsVpnPlugin::RunElevatedCommand - Elevated command completed");
    return true;
  } catch (const std::exception& e) {
    Log(std::string("WindowsVpnPlugin::RunElevatedCommand - Exception: ") + e.what());
    return false;
  }
}

}  // namespace tarvex
