#include "plugin_fixture.h"

namespace tarvex {

std::string Rule(const std::string& name, const std::string& direction, const std::string& what) {
  return "netsh advfirewall firewall add rule name=\"Tarvex VPN - tarvex_office " + name +
         "\" dir=" + direction + " action=allow " + what + " enable=yes profile=any";
}
Lines Deletes() {
  Lines deletes;
  for (const char* name : {"In", "Out", "App In", "App Out", "UDP", "UDP In", "VPN In", "VPN Out", "ICMP"}) {
    deletes.push_back("netsh advfirewall firewall delete rule name=\"Tarvex VPN - tarvex_office " +
                      std::string(name) + "\"");
  }
  return deletes;
}
const std::string kWireGuard = "protocol=any program=\"C:\\Apps\\Tarvex\\bin\\wireguard.exe\"",
                  kApp = "protocol=any program=\"C:\\Apps\\Tarvex\\tarvex.exe\"";
const Lines kPrograms = {Rule("In", "in", kWireGuard), Rule("Out", "out", kWireGuard),
                         Rule("App In", "in", kApp), Rule("App Out", "out", kApp)};
Lines Ports(const std::string& port) {
  return {Rule("UDP", "out", "protocol=udp remoteport=" + port),
          Rule("UDP In", "in", "protocol=udp localport=" + port)};
}
Lines Addresses(const std::string& list) {
  return {Rule("VPN In", "in", "protocol=any localip=" + list),
          Rule("VPN Out", "out", "protocol=any localip=" + list),
          Rule("ICMP", "in", "protocol=icmpv4 localip=" + list)};
}

const std::string kAdd = "AddFirewallRules - ";
const Lines kOpening = Join({{kAdd + "Adding rules for: tarvex_office"}, RemoveRulesLines("tarvex_office")});
const std::string kNoPort = "ExtractEndpointPort - No endpoint port found in config";
const Lines kProgramsAdded = {kAdd + "Inbound WireGuard rule added", kAdd + "Outbound WireGuard rule added",
                              kAdd + "App inbound rule added", kAdd + "App outbound rule added"};
Lines PortsAdded(const std::string& port) {
  return {kAdd + "UDP outbound port " + port + " rule added",
          kAdd + "UDP inbound port " + port + " rule added"};
}
Lines AddressesAdded(const std::string& list) {
  return {kAdd + "VPN inbound rule added for IP: " + list, kAdd + "VPN outbound rule added for IP: " + list,
          kAdd + "ICMP ping rule added for IP: " + list};
}
Lines Found(const std::string& port) { return {"ExtractEndpointPort - Found port: " + port}; }
const Lines kAll = {kAdd + "All firewall rules added for: tarvex_office"};
Lines Skipped(const std::string& what, const std::string& text) {
  return {kAdd +
          (what == "port" ? "Endpoint port is not a port number, UDP rules skipped: "
                          : "Address is not an IP address, VPN rules skipped: ") +
          text};
}

// The rule set's names are deleted, then each rule is added by the system
// folder's netsh, when its field is there. Only a port number and address
// literals reach the command lines: anything else would add other rules
// ("localip=any" opens everything). A module path that could not be read, or
// was cut, names no folder of ours and gets no program rules. A rule's line
// says only that netsh started. The road's name is the configuration.
using FirewallRulesTest = RoadTest;
TEST_P(FirewallRulesTest, RunsTheCommandsItsConfigurationAllows) {
  GetParam().given(windows);
  EXPECT_EQ(plugin.AddFirewallRules("tarvex_office", GetParam().name), GetParam().answer);
  EXPECT_EQ(Log(), GetParam().log);
  EXPECT_EQ(windows.launches, GetParam().programs);
}
void ModulePathCut(SimulatedWindows& w) { w.module_path = "C:\\" + std::string(250, 'a') + "\\tarvex.exe"; }
const Lines kAllRules = Join({Deletes(), kPrograms, Ports("51820"), Addresses("10.66.66.2")});
// clang-format off
INSTANTIATE_TEST_SUITE_P(Configurations, FirewallRulesTest, ::testing::ValuesIn(std::vector<Road>{
    {kConfig, Nothing, true, AddRulesLines("tarvex_office"), kAllRules},
    {"Address = 10.66.66.2\n", Nothing, true, Join({kOpening, {kNoPort}, kProgramsAdded,
      AddressesAdded("10.66.66.2"), kAll}), Join({Deletes(), kPrograms, Addresses("10.66.66.2")})},
    {"Endpoint = 203.0.113.5:51820\n", Nothing, true, Join({kOpening, Found("51820"), kProgramsAdded,
      PortsAdded("51820"), kAll}), Join({Deletes(), kPrograms, Ports("51820")})},
    {"Endpoint = [2001:db8::1]:1\nAddress = FD42::2/128\n", Nothing, true, Join({kOpening, Found("1"), kProgramsAdded,
      PortsAdded("1"), AddressesAdded("FD42::2"), kAll}), Join({Deletes(), kPrograms, Ports("1"), Addresses("FD42::2")})},
    {"Endpoint = h:51820 dir=in\nAddress = any\n", Nothing, true, Join({kOpening, Found("51820 dir=in"), kProgramsAdded,
      Skipped("port", "51820 dir=in"), Skipped("address", "any"), kAll}), Join({Deletes(), kPrograms})},
    {"Endpoint = h:0\nAddress = 10.0.0.2, any\n", Nothing, true, Join({kOpening, Found("0"), kProgramsAdded,
      Skipped("port", "0"), Skipped("address", "10.0.0.2, any"), kAll}), Join({Deletes(), kPrograms})},
    {"Endpoint = h:65536\nAddress = 10.0.0.2\" remoteip=\"any\n", Nothing, true, Join({kOpening, Found("65536"),
      kProgramsAdded, Skipped("port", "65536"), Skipped("address", "10.0.0.2\" remoteip=\"any"), kAll}),
     Join({Deletes(), kPrograms})},
    {"Endpoint = h:5182x\nAddress = \x1B[2J\n", Nothing, true, Join({kOpening, Found("5182x"), kProgramsAdded,
      Skipped("port", "5182x"), Skipped("address", "\\x1B[2J"), kAll}), Join({Deletes(), kPrograms})},
    // A list of addresses without prefix lengths reaches netsh as it stands, blanks included.
    {"Address = 10.0.0.2 ,\tFD00::2\n", Nothing, true, Join({kOpening, {kNoPort}, kProgramsAdded,
      AddressesAdded("10.0.0.2 ,\tFD00::2"), kAll}), Join({Deletes(), kPrograms, Addresses("10.0.0.2 ,\tFD00::2")})},
    {kConfig, Failing("GetModuleFileNameA", kErrorAccessDenied), true, Join({kOpening, Found("51820"),
      PortsAdded("51820"), AddressesAdded("10.66.66.2"), kAll}), Join({Deletes(), Ports("51820"), Addresses("10.66.66.2")})},
    {kConfig, ModulePathCut, true, Join({kOpening, Found("51820"), PortsAdded("51820"), AddressesAdded("10.66.66.2"),
      kAll}), Join({Deletes(), Ports("51820"), Addresses("10.66.66.2")})},
    {kConfig, Failing("GetSystemDirectoryA", kErrorAccessDenied), true, Join({kOpening, Found("51820"), kAll}), {}},
    {kConfig, [](SimulatedWindows& w) { w.programs.erase(kNetshExe); }, true, Join({kOpening, Found("51820"), kAll}),
     kAllRules},
    {kConfig, Failing("GetSystemDirectoryA", kThrows, 12), false, Join({kOpening, Found("51820"),
      {kProgramsAdded[0], kProgramsAdded[1], kAdd + "Exception: std::bad_alloc"}}),
     Join({Deletes(), {kPrograms[0], kPrograms[1]}})}}));
// clang-format on

// A system folder that does not fit the buffer is no folder; a hung or
// failing netsh is passed over.
TEST_F(PluginTest, RemoveFirewallRules_DeletesTheNineNamesWhateverNetshDoes) {
  windows.programs[kNetshExe] = {1, 60000};
  EXPECT_TRUE(plugin.RemoveFirewallRules("tarvex_office"));
  EXPECT_EQ(windows.launches, Deletes());
  EXPECT_EQ(windows.tick, 5000u + 9 * 5000u);
  windows.system_folder = "C:\\" + std::string(kMaxPath, 's');
  EXPECT_TRUE(plugin.RemoveFirewallRules("tarvex_office"));
  windows.fail["GetSystemDirectoryA"] = {kThrows};
  EXPECT_FALSE(plugin.RemoveFirewallRules("tarvex_office"));
  EXPECT_EQ(windows.launches.size(), 9u);
  EXPECT_EQ(Log(), Join({RemoveRulesLines("tarvex_office"),
                         RemoveRulesLines("tarvex_office"),
                         {"RemoveFirewallRules - Removing rules for: tarvex_office",
                          "RemoveFirewallRules - Exception: std::bad_alloc"}}));
}

}  // namespace tarvex
