#include "vpn_plugin/tunnel_naming.h"

#include <cstdio>

namespace tarvex {

namespace {

// WireGuard for Windows limits tunnel names to 32 bytes; "tarvex_" takes 7.
constexpr std::string_view::size_type kMaxNetworkIdLength = 32 - 7;

bool IsTunnelNameByte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '=' ||
         c == '+' || c == '.' || c == '-';
}

}  // namespace

bool IsAcceptedNetworkId(std::string_view network_id) {
  if (network_id.empty() || network_id.size() > kMaxNetworkIdLength || network_id.back() == '.') {
    return false;
  }
  for (const char c : network_id) {
    if (!IsTunnelNameByte(c)) {
      return false;
    }
  }
  return true;
}

std::string EscapedForLog(std::string_view text) {
  std::string logged;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte > 0x7E || c == '\\') {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      logged += escaped;
    } else {
      logged += c;
    }
  }
  return logged;
}

std::string WgDirectory(WindowsApi& windows) {
  const char* temp = windows.GetEnv("TEMP");
  return std::string(temp != nullptr ? temp : "C:\\Temp") + "\\wg";
}

}  // namespace tarvex
