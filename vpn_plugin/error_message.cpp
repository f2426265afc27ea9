#include <string>

#include "vpn_plugin/owned.h"
#include "vpn_plugin/text_conversion.h"
#include "vpn_plugin/windows_vpn_plugin.h"

namespace tarvex {

// The system's sentence keeps its trailing CR LF: log lines built from it end
// with that line end.
std::string WindowsVpnPlugin::GetErrorMessage(Dword code) {
  char16_t* text = nullptr;
  const Dword length = windows_->FormatMessageW(
      kFormatMessageAllocateBuffer | kFormatMessageFromSystem | kFormatMessageIgnoreInserts, nullptr, code,
      kLangNeutralSublangDefault, &text, 0);
  OwnedLocalText owned_text(*windows_, text);
  if (length == 0 || text == nullptr) {
    return std::string();
  }
  std::string message = Utf16ToUtf8(std::u16string_view(text, length));
  owned_text.Close();
  return message;
}

}  // namespace tarvex
