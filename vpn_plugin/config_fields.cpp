#include "vpn_plugin/config_fields.h"

#include <functional>
#include <sstream>
#include <string>
#include <string_view>

#include "vpn_plugin/windows_vpn_plugin.h"

namespace tarvex {

namespace {

constexpr std::string_view kLineBlanks = " \t\r\n";
constexpr std::string_view kValueStartBlanks = " \t";
constexpr std::string_view kValueEndBlanks = " \t\r\n";

// A text made only of blanks stays as it is: the two trims below keep it.
std::string TrimStart(const std::string& text, std::string_view blanks) {
  const std::string::size_type first = text.find_first_not_of(blanks);
  return first == std::string::npos ? text : text.substr(first);
}

std::string TrimEnd(const std::string& text, std::string_view blanks) {
  const std::string::size_type last = text.find_last_not_of(blanks);
  return last == std::string::npos ? text : text.substr(0, last + 1);
}

bool StartsWith(const std::string& text, std::string_view prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// Calls `visit` with each line that is not blank, its leading blanks dropped
// (a CR before the line feed stays), until `visit` answers true.
void ForEachLine(const std::string& config, const std::function<bool(const std::string&)>& visit) {
  std::istringstream lines(config);
  std::string line;
  while (std::getline(lines, line, '\n')) {
    const std::string::size_type first = line.find_first_not_of(kLineBlanks);
    if (first == std::string::npos) {
      continue;
    }
    if (visit(line.substr(first))) {
      return;
    }
  }
}

}  // namespace

std::string ExtractConfigValue(const std::string& config, const std::string& key) {
  std::string value;
  ForEachLine(config, [&](const std::string& line) {
    if (line.size() < key.size() || !StartsWith(line, key)) {
      return false;
    }
    const std::string::size_type equals = line.find('=');
    if (equals == std::string::npos) {
      return false;
    }
    value = TrimEnd(TrimStart(line.substr(equals + 1), kValueStartBlanks), kValueEndBlanks);
    return true;
  });
  return value;
}

// The last ":" separates the port, so a bracketed IPv6 endpoint yields its
// port too; host names are not resolved and the port is not checked.
std::string WindowsVpnPlugin::ExtractEndpointPort(const std::string& config) {
  std::string port;
  bool found = false;
  ForEachLine(config, [&](const std::string& line) {
    if (line.size() < 8 || !StartsWith(line, "Endpoint")) {
      return false;
    }
    const std::string::size_type equals = line.find('=');
    if (equals == std::string::npos) {
      return false;
    }
    // An empty value has no ":" either, so it is passed over like one without.
    const std::string value = TrimStart(line.substr(equals + 1), kValueStartBlanks);
    const std::string::size_type colon = value.rfind(':');
    if (colon == std::string::npos) {
      return false;
    }
    port = value.substr(colon + 1);
    if (!port.empty()) {
      port = TrimEnd(port, kValueEndBlanks);
    }
    found = true;
    return true;
  });
  if (found) {
    Log("WindowsVpnPlugin::ExtractEndpointPort - Found port: " + port);
    return port;
  }
  Log("WindowsVpnPlugin::ExtractEndpointPort - No endpoint port found in config");
  return std::string();
}

}  // namespace tarvex
