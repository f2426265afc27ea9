#pragma once

#include <string>
#include <string_view>

#include "vpn_plugin/windows_api.h"

namespace tarvex {

// A network id becomes part of file paths, command lines and service names.
// Only an id whose tunnel name ("tarvex_" + id) WireGuard for Windows itself
// accepts may go there: 1 to 25 bytes of ASCII letters, digits and _ = + . -,
// not ending in ".". Anything else could reach outside the wg directory,
// split a command line or name another tunnel's service.
bool IsAcceptedNetworkId(std::string_view network_id);

// Text as a log line may carry it: control characters, NUL, backslash and
// bytes above 0x7E are written as \xNN, so hostile text cannot forge lines.
// An accepted network id holds none of these and comes back unchanged.
std::string EscapedForLog(std::string_view text);

// The folder of the configuration files: "TEMP" followed by "\wg", or
// "C:\Temp\wg" when "TEMP" is not set. The value is used as it is, a trailing
// backslash included.
std::string WgDirectory(WindowsApi& windows);

}  // namespace tarvex
