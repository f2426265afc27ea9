#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <initializer_list>

#include "simulated_windows.h"
#include "vpn_plugin/windows_vpn_plugin.h"

namespace tarvex {

using flutter::EncodableMap;
using flutter::EncodableValue;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Lines = std::vector<std::string>;

constexpr const char* kLogPath = "C:\\Users\\ana\\AppData\\Roaming\\Tarvex\\windows_vpn_debug.log";
constexpr const char* kConfig =
    "[Interface]\nPrivateKey = cGxhY2Vob2xkZXI=\nAddress = 10.66.66.2/32, fd42::2/128\n\n"
    "[Peer]\nEndpoint = 203.0.113.5:51820\n";
constexpr const char* kOfficeConf = "C:\\Users\\ana\\AppData\\Local\\Temp\\wg\\tarvex_office.conf";
const std::string kWg = std::string(kTemp) + "\\wg";
const std::string kInstallOffice =
    "\"C:\\Apps\\Tarvex\\bin\\wireguard.exe\" /installtunnelservice \"" + std::string(kOfficeConf) + "\"";
const std::string kUninstallOffice =
    "\"C:\\Apps\\Tarvex\\bin\\wireguard.exe\" /uninstalltunnelservice tarvex_office";
const std::string kNotFound = "FindWireGuardExecutable - WireGuard executable not found in bundle or system";
const std::string kFoundBundled =
    "FindWireGuardExecutable - Found bundled at: C:\\Apps\\Tarvex\\bin\\wireguard.exe";

// The next allocation through operator new on this thread throws std::bad_alloc, as when memory runs
// out: the one failure the plugin's own code can meet between two calls into Windows.
void FailNextAllocation();

inline Lines Join(std::initializer_list<Lines> parts) {
  Lines joined;
  for (const Lines& part : parts) joined.insert(joined.end(), part.begin(), part.end());
  return joined;
}

// The log's lines: text mode undone, each line's timestamp and the plugin's prefix checked and stripped.
inline Lines LogLinesOf(const SimulatedWindows& windows) {
  const std::string stamp = "[2026-12-06 03:05:17] WindowsVpnPlugin::";
  std::string text;
  for (char c : windows.files.count(kLogPath) != 0 ? windows.files.at(kLogPath) : "") {
    if (c == '\n' && !text.empty() && text.back() == '\r') text.pop_back();
    text += c;
  }
  Lines lines;
  for (std::size_t start = 0, end; start < text.size(); start = end + 1) {
    EXPECT_EQ(text.compare(start, stamp.size(), stamp), 0) << text.substr(start);
    end = std::min(text.find("\n[", start), text.size() - 1);
    lines.push_back(text.substr(start + stamp.size(), end - start - stamp.size()));
  }
  return lines;
}

inline Lines RemoveRulesLines(const std::string& rule_set) {
  return {"RemoveFirewallRules - Removing rules for: " + rule_set,
          "RemoveFirewallRules - Firewall rules removed for: " + rule_set};
}
const std::string kAdd = "AddFirewallRules - ";
const Lines kProgramsAdded = {kAdd + "Inbound WireGuard rule added", kAdd + "Outbound WireGuard rule added",
                              kAdd + "App inbound rule added", kAdd + "App outbound rule added"};
inline std::string Found(const std::string& port) { return "ExtractEndpointPort - Found port: " + port; }
inline Lines PortsAdded(const std::string& port) {
  return {kAdd + "UDP outbound port " + port + " rule added",
          kAdd + "UDP inbound port " + port + " rule added"};
}
inline Lines AddressesAdded(const std::string& list) {
  return {kAdd + "VPN inbound rule added for IP: " + list, kAdd + "VPN outbound rule added for IP: " + list,
          kAdd + "ICMP ping rule added for IP: " + list};
}
// For kConfig, in the order they come: the port is read before the program rules are added.
inline Lines AddRulesLines(const std::string& rule_set) {
  Lines lines = Join({RemoveRulesLines(rule_set), {Found("51820")}, kProgramsAdded, PortsAdded("51820")});
  lines.insert(lines.begin(), kAdd + "Adding rules for: " + rule_set);
  return Join({lines, AddressesAdded("10.66.66.2"), {kAdd + "All firewall rules added for: " + rule_set}});
}

// Adds each reply to `replies` as "<tag><reply>": "true", "false", "CODE: message", "not implemented", or
// "unanswered" for a result destroyed without one. A success throws when `throws` is set.
class RecordedResult : public flutter::MethodResult<EncodableValue> {
 public:
  RecordedResult(Lines* replies, std::string tag = "", bool throws = false)
      : replies_(replies), tag_(std::move(tag)), throws_(throws) {}
  ~RecordedResult() override {
    if (!answered_) Add("unanswered");
  }

 protected:
  void SuccessInternal(const EncodableValue* value) override {
    if (throws_) throw std::runtime_error("reply failed");
    Add(*value->TryGet<bool>() ? "true" : "false");
  }
  void ErrorInternal(const std::string& code, const std::string& message, const EncodableValue*) override {
    Add(code + ": " + message);
  }
  void NotImplementedInternal() override { Add("not implemented"); }

 private:
  void Add(const std::string& reply) {
    answered_ = true;
    replies_->push_back(tag_ + reply);
  }
  Lines* replies_;
  std::string tag_;
  bool throws_, answered_ = false;
};

// A plugin on a simulated machine. Every test ends with nothing left open.
class PluginTest : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(windows.OpenHandles(), 0u) << "a handle or buffer was left open"; }

  Lines Log(std::size_t first = 0) const {
    const Lines lines = LogLinesOf(windows);
    return Lines(lines.begin() + static_cast<std::ptrdiff_t>(std::min(first, lines.size())), lines.end());
  }
  std::string Back(std::ptrdiff_t count = 1) const { return Log().end()[-count]; }
  std::string Call(const std::string& method, std::optional<EncodableValue> arguments = std::nullopt) {
    Lines replies;
    plugin.HandleMethodCall({method, arguments ? std::make_unique<EncodableValue>(*arguments) : nullptr},
                            std::make_unique<RecordedResult>(&replies));
    return replies.empty() ? "no reply" : replies.back();
  }
  std::string Start(const std::string& id, const std::string& config = kConfig) {
    return Call("startTunnel", EncodableMap{{"networkId", id}, {"config", config}});
  }
  std::string Stop(const std::string& id) { return Call("stopTunnel", EncodableMap{{"networkId", id}}); }
  // The programs started, in order: each command line, a run of netsh commands as "netsh <count>".
  Lines Programs() const {
    Lines programs;
    int netsh = 0;  // in the current run
    for (const std::string& line : windows.launches) {
      netsh = line.rfind("netsh ", 0) == 0 ? netsh + 1 : 0;
      if (netsh > 1) programs.pop_back();
      programs.push_back(netsh > 0 ? "netsh " + std::to_string(netsh) : line);
    }
    return programs;
  }

  std::unique_ptr<SimulatedWindows> owned_windows_ = std::make_unique<SimulatedWindows>();
  SimulatedWindows& windows = *owned_windows_;
  WindowsVpnPlugin plugin{std::move(owned_windows_)};
};

// What a road changes on the machine before the operation runs.
using Given = std::function<void(SimulatedWindows&)>;
inline void Nothing(SimulatedWindows&) {}
// The operation's `call`-th call from now fails (every call when 0).
inline Given Failing(const std::string& operation, Dword error, int call = 0) {
  return [=](SimulatedWindows& w) { w.fail[operation] = {error, call == 0 ? 0 : w.calls[operation] + call}; };
}
inline Given Both(Given first, Given second) {
  return [=](SimulatedWindows& w) { first(w), second(w); };
}

// One road through an operation: what differs on the machine, the answer, the whole log, the programs.
struct Road {
  const char* name;
  Given given;
  bool answer;
  Lines log;  // whole, or the operation's own lines when the test names it
  Lines programs;
  const char* file = "";  // the configuration file's content afterwards ("none": deleted), if it matters
};
inline void PrintTo(const Road& road, std::ostream* os) { *os << road.name; }
class RoadTest : public PluginTest, public ::testing::WithParamInterface<Road> {
 protected:
  void Travel(const std::function<bool()>& operation, const std::string& own = "") {
    GetParam().given(windows);
    EXPECT_EQ(operation(), GetParam().answer);
    Lines lines;
    for (const std::string& line : Log()) {
      if (line.rfind(own, 0) == 0) lines.push_back(line.substr(own.size()));
    }
    EXPECT_EQ(lines, GetParam().log);
    EXPECT_EQ(Programs(), GetParam().programs);
    if (*GetParam().file != 0) {
      EXPECT_EQ(windows.files.count(kOfficeConf) != 0 ? windows.files.at(kOfficeConf) : "none",
                GetParam().file);
    }
  }
};

}  // namespace tarvex
