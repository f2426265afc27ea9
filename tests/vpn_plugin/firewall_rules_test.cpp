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
const Lines kPrograms = Join({Deletes(),
                              {Rule("In", "in", kWireGuard), Rule("Out", "out", kWireGuard),
                               Rule("App In", "in", kApp), Rule("App Out", "out", kApp)}});
Lines Ports(const std::string& port) {
  return {Rule("UDP", "out", "protocol=udp remoteport=" + port),
          Rule("UDP In", "in", "protocol=udp localport=" + port)};
}
Lines Addresses(const std::string& list) {
  return {Rule("VPN In", "in", "protocol=any localip=" + list),
          Rule("VPN Out", "out", "protocol=any localip=" + list),
          Rule("ICMP", "in", "protocol=icmpv4 localip=" + list)};
}
const Lines kOpening = Join({{kAdd + "Adding rules for: tarvex_office"}, RemoveRulesLines("tarvex_office")});
const Lines kAll = {kAdd + "All firewall rules added for: tarvex_office"};
const Lines kNoPort = {"ExtractEndpointPort - No endpoint port found in config"};
Lines Skipped(const std::string& port, const std::string& address) {
  return {kAdd + "Endpoint port is not a port number, UDP rules skipped: " + port,
          kAdd + "Address is not an IP address, VPN rules skipped: " + address};
}

// Only a port number and address literals reach the command lines ("localip=any" opens everything); an
// unknown program path gets no rule. The road's name is the configuration.
using FirewallRulesTest = RoadTest;
TEST_P(FirewallRulesTest, RunsTheCommandsItsConfigurationAllows) {
  GetParam().given(windows);
  EXPECT_EQ(plugin.AddFirewallRules("tarvex_office", GetParam().name), GetParam().answer);
  EXPECT_EQ(Log(), GetParam().log);
  EXPECT_EQ(windows.launches, GetParam().programs);
}
const Lines kAllRules = Join({kPrograms, Ports("51820"), Addresses("10.66.66.2")});
// clang-format off
INSTANTIATE_TEST_SUITE_P(Configurations, FirewallRulesTest, ::testing::ValuesIn(std::vector<Road>{
    {kConfig, Nothing, true, AddRulesLines("tarvex_office"), kAllRules},
    {"Address = 10.0.0.2 ,\tFD00::2\n", Nothing, true,
     Join({kOpening, kNoPort, kProgramsAdded, AddressesAdded("10.0.0.2 ,\tFD00::2"), kAll}),
     Join({kPrograms, Addresses("10.0.0.2 ,\tFD00::2")})},
    {"Endpoint = [2001:db8::1]:1\n", Nothing, true,
     Join({kOpening, {Found("1")}, kProgramsAdded, PortsAdded("1"), kAll}),
     Join({kPrograms, Ports("1")})},
    {"Endpoint = h:0\nAddress = 10.0.0.2, any\n", Nothing, true,
     Join({kOpening, {Found("0")}, kProgramsAdded, Skipped("0", "10.0.0.2, any"), kAll}), kPrograms},
    {"Endpoint = h:65536\nAddress = 10.0.0.2\" remoteip=\"any\n", Nothing, true,
     Join({kOpening, {Found("65536")}, kProgramsAdded, Skipped("65536", "10.0.0.2\" remoteip=\"any"), kAll}),
     kPrograms},
    {"Endpoint = h:1 dir=in\nAddress = \x1B[2J\n", Nothing, true,
     Join({kOpening, {Found("1 dir=in")}, kProgramsAdded, Skipped("1 dir=in", "\\x1B[2J"), kAll}), kPrograms},
    {kConfig, Failing("GetModuleFileNameA", kErrorAccessDenied), true,
     Join({kOpening, {Found("51820")}, PortsAdded("51820"), AddressesAdded("10.66.66.2"), kAll}),
     Join({Deletes(), Ports("51820"), Addresses("10.66.66.2")})},
    {kConfig, Failing("GetSystemDirectoryA", kErrorAccessDenied), true,
     Join({kOpening, {Found("51820")}, kAll}), {}},
    {kConfig, [](SimulatedWindows& w) { w.programs.erase(kNetshExe); }, true,
     Join({kOpening, {Found("51820")}, kAll}), kAllRules},
    {kConfig, Failing("GetSystemDirectoryA", kThrows, 12), false, Join({kOpening, {Found("51820")},
      {kProgramsAdded[0], kProgramsAdded[1], kAdd + "Exception: std::bad_alloc"}}),
     Lines(kPrograms.begin(), kPrograms.end() - 2)}}));
// clang-format on

TEST_F(PluginTest, RemoveFirewallRules_DeletesTheNineNamesWhateverNetshDoes) {
  windows.programs[kNetshExe] = {1, 60000};
  EXPECT_TRUE(plugin.RemoveFirewallRules("tarvex_office"));
  EXPECT_EQ(windows.launches, Deletes());
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
