#include "tunnel_fixture.h"

namespace tarvex {

using FirewallRulesTest = TunnelTest;

const std::vector<std::string> kDeletes = {
    "netsh advfirewall firewall delete rule name=\"Tarvex VPN - tarvex_office In\"",
    "netsh advfirewall firewall delete rule name=\"Tarvex VPN - tarvex_office Out\"",
    "netsh advfirewall firewall delete rule name=\"Tarvex VPN - tarvex_office App In\"",
    "netsh advfirewall firewall delete rule name=\"Tarvex VPN - tarvex_office App Out\"",
    "netsh advfirewall firewall delete rule name=\"Tarvex VPN - tarvex_office UDP\"",
    "netsh advfirewall firewall delete rule name=\"Tarvex VPN - tarvex_office UDP In\"",
    "netsh advfirewall firewall delete rule name=\"Tarvex VPN - tarvex_office VPN In\"",
    "netsh advfirewall firewall delete rule name=\"Tarvex VPN - tarvex_office VPN Out\"",
    "netsh advfirewall firewall delete rule name=\"Tarvex VPN - tarvex_office ICMP\""};
const std::vector<std::string> kProgramRules = {
    "netsh advfirewall firewall add rule name=\"Tarvex VPN - tarvex_office In\" dir=in action=allow "
    "protocol=any program=\"C:\\Apps\\Tarvex\\bin\\wireguard.exe\" enable=yes profile=any",
    "netsh advfirewall firewall add rule name=\"Tarvex VPN - tarvex_office Out\" dir=out action=allow "
    "protocol=any program=\"C:\\Apps\\Tarvex\\bin\\wireguard.exe\" enable=yes profile=any",
    "netsh advfirewall firewall add rule name=\"Tarvex VPN - tarvex_office App In\" dir=in action=allow "
    "protocol=any program=\"C:\\Apps\\Tarvex\\tarvex.exe\" enable=yes profile=any",
    "netsh advfirewall firewall add rule name=\"Tarvex VPN - tarvex_office App Out\" dir=out action=allow "
    "protocol=any program=\"C:\\Apps\\Tarvex\\tarvex.exe\" enable=yes profile=any"};
const std::vector<std::string> kPortRules = {
    "netsh advfirewall firewall add rule name=\"Tarvex VPN - tarvex_office UDP\" dir=out action=allow "
    "protocol=udp remoteport=51820 enable=yes profile=any",
    "netsh advfirewall firewall add rule name=\"Tarvex VPN - tarvex_office UDP In\" dir=in action=allow "
    "protocol=udp localport=51820 enable=yes profile=any"};
std::vector<std::string> AddressRules(const std::string& address) {
  return {
      "netsh advfirewall firewall add rule name=\"Tarvex VPN - tarvex_office VPN In\" dir=in action=allow "
      "protocol=any localip=" +
          address + " enable=yes profile=any",
      "netsh advfirewall firewall add rule name=\"Tarvex VPN - tarvex_office VPN Out\" dir=out action=allow "
      "protocol=any localip=" +
          address + " enable=yes profile=any",
      "netsh advfirewall firewall add rule name=\"Tarvex VPN - tarvex_office ICMP\" dir=in action=allow "
      "protocol=icmpv4 localip=" +
          address + " enable=yes profile=any"};
}
const std::vector<std::string> kAddressRules = AddressRules("10.66.66.2");

TEST_F(FirewallRulesTest, DeletesTheNineNamesThenAddsEveryRuleFromTheSystemFoldersNetsh) {
  EXPECT_TRUE(plugin.AddFirewallRules("tarvex_office", kConfig));

  EXPECT_EQ(NetshLines(), Join({kDeletes, kProgramRules, kPortRules, kAddressRules}));
  EXPECT_THAT(OtherLaunches(), IsEmpty());
  EXPECT_EQ(LogLines(), AddRulesLines("tarvex_office"));
  EXPECT_EQ(windows.tick, 5000u + 18 * 50u);  // every netsh waited for
}

struct PartialConfig {
  const char* config;
  std::vector<std::string> adds;
};

TEST_F(FirewallRulesTest, RulesWithoutTheirFieldAreSkippedSilently) {
  const PartialConfig cases[] = {
      {"Address = 10.66.66.2\n", Join({kProgramRules, kAddressRules})},
      {"Endpoint = 203.0.113.5:51820\n", Join({kProgramRules, kPortRules})},
      {"[Interface]\n", kProgramRules},
  };
  for (const PartialConfig& c : cases) {
    windows.launches.clear();
    windows.applications.clear();
    EXPECT_TRUE(plugin.AddFirewallRules("tarvex_office", c.config));
    EXPECT_EQ(NetshLines(), Join({kDeletes, c.adds})) << c.config;
  }
}

// Values that would change what netsh is asked for, or open everything, are not inserted.
TEST_F(FirewallRulesTest, OnlyAPortNumberAndAnAddressLiteralReachTheCommandLines) {
  const char* const configs[] = {
      "Endpoint = h:51820 dir=in\nAddress = any\n", "Endpoint = h:0\nAddress = 10.0.0.2, any\n",
      "Endpoint = h:65536\nAddress = 10.0.0.2\" remoteip=\"any\n", "Endpoint = h:5182x\nAddress = \x1B[2J\n"};
  for (const char* config : configs) {
    windows.launches.clear();
    windows.applications.clear();
    EXPECT_TRUE(plugin.AddFirewallRules("tarvex_office", config));
    EXPECT_EQ(NetshLines(), Join({kDeletes, kProgramRules})) << config;
  }
  const std::vector<std::string> lines = LogLines();
  EXPECT_EQ(
      std::vector<std::string>(lines.end() - 3, lines.end()),
      (std::vector<std::string>{
          "WindowsVpnPlugin::AddFirewallRules - Endpoint port is not a port number, UDP rules skipped: 5182x",
          "WindowsVpnPlugin::AddFirewallRules - Address is not an IP address, VPN rules skipped: \\x1B[2J",
          "WindowsVpnPlugin::AddFirewallRules - All firewall rules added for: tarvex_office"}));

  windows.launches.clear();
  windows.applications.clear();
  EXPECT_TRUE(
      plugin.AddFirewallRules("tarvex_office", "Endpoint = [2001:db8::1]:1\nAddress = FD42::2/128\n"));
  EXPECT_EQ(NetshLines().size(), 9u + 4 + 2 + 3);
}

// A list of addresses without prefix lengths, as a configuration may well
// carry it, reaches netsh as it stands, blanks included.
TEST_F(FirewallRulesTest, AnAddressListWithoutPrefixLengthsIsInsertedWhole) {
  for (const std::string list : {"10.0.0.2, fd00::2", "10.0.0.2,FD00::2", "10.0.0.2 ,\tfd00::2"}) {
    windows.launches.clear();
    windows.applications.clear();
    EXPECT_TRUE(plugin.AddFirewallRules("tarvex_office", "Address = " + list + "\n"));
    EXPECT_EQ(NetshLines(), Join({kDeletes, kProgramRules, AddressRules(list)})) << list;
    EXPECT_EQ(LastLogLines(4),
              (std::vector<std::string>{
                  "WindowsVpnPlugin::AddFirewallRules - VPN inbound rule added for IP: " + list,
                  "WindowsVpnPlugin::AddFirewallRules - VPN outbound rule added for IP: " + list,
                  "WindowsVpnPlugin::AddFirewallRules - ICMP ping rule added for IP: " + list,
                  "WindowsVpnPlugin::AddFirewallRules - All firewall rules added for: tarvex_office"}));
  }
}

// A path that names no folder of ours must not open the firewall for it.
TEST_F(FirewallRulesTest, AnUnreadableOrCutModulePathLeavesOutTheProgramRules) {
  for (const bool cut : {false, true}) {
    windows.launches.clear();
    windows.applications.clear();
    windows.fail.clear();
    if (cut) {
      windows.module_path = "C:\\" + std::string(260, 'a') + "\\tarvex.exe";
    } else {
      windows.fail["GetModuleFileNameA"] = kErrorAccessDenied;
    }
    EXPECT_TRUE(plugin.AddFirewallRules("tarvex_office", kConfig));
    EXPECT_EQ(NetshLines(), Join({kDeletes, kPortRules, kAddressRules}));
  }
  std::vector<std::string> lines = AddRulesLines("tarvex_office");
  lines.erase(lines.begin() + 4, lines.begin() + 8);
  EXPECT_EQ(LogLines(), Join({lines, lines}));
}

TEST_F(FirewallRulesTest, WithoutTheSystemFolderNoNetshRunsAndNoRuleIsReportedAdded) {
  windows.fail["GetSystemDirectoryA"] = kErrorAccessDenied;
  EXPECT_TRUE(plugin.AddFirewallRules("tarvex_office", kConfig));
  windows.fail.clear();
  windows.system_folder = "C:\\" + std::string(kMaxPath, 's');  // does not fit the buffer
  EXPECT_TRUE(plugin.RemoveFirewallRules("tarvex_office"));

  EXPECT_EQ(windows.calls["CreateProcessA"], 0);
  EXPECT_EQ(LogLines(),
            Join({{"WindowsVpnPlugin::AddFirewallRules - Adding rules for: tarvex_office"},
                  RemoveRulesLines("tarvex_office"),
                  {"WindowsVpnPlugin::ExtractEndpointPort - Found port: 51820",
                   "WindowsVpnPlugin::AddFirewallRules - All firewall rules added for: tarvex_office"},
                  RemoveRulesLines("tarvex_office")}));
}

TEST_F(FirewallRulesTest, AHungOrMissingNetshIsPassedOverAndAnExceptionEndsTheOperation) {
  windows.programs[kNetshExe] = {1, 60000};
  EXPECT_TRUE(plugin.RemoveFirewallRules("tarvex_office"));
  EXPECT_EQ(windows.tick, 5000u + 9 * 5000u);

  windows.programs.erase(kNetshExe);
  EXPECT_TRUE(plugin.AddFirewallRules("tarvex_office", kConfig));
  EXPECT_EQ(LogLines().back(),
            "WindowsVpnPlugin::AddFirewallRules - All firewall rules added for: tarvex_office");
  EXPECT_EQ(LogLines().size(), 2u + 5u);  // no "added" line

  windows.throw_on["GetSystemDirectoryA"] = windows.calls["GetSystemDirectoryA"] + 12;  // the third add
  windows.programs[kNetshExe] = {0, 0};
  windows.launches.clear();
  windows.applications.clear();
  const std::size_t before = LogLines().size();
  EXPECT_FALSE(plugin.AddFirewallRules("tarvex_office", kConfig));
  windows.throw_on["GetSystemDirectoryA"] = windows.calls["GetSystemDirectoryA"] + 1;
  EXPECT_FALSE(plugin.RemoveFirewallRules("tarvex_office"));

  EXPECT_EQ(LogLinesFrom(before),
            Join({{"WindowsVpnPlugin::AddFirewallRules - Adding rules for: tarvex_office"},
                  RemoveRulesLines("tarvex_office"),
                  {"WindowsVpnPlugin::ExtractEndpointPort - Found port: 51820",
                   "WindowsVpnPlugin::AddFirewallRules - Inbound WireGuard rule added",
                   "WindowsVpnPlugin::AddFirewallRules - Outbound WireGuard rule added",
                   "WindowsVpnPlugin::AddFirewallRules - Exception: std::bad_alloc",
                   "WindowsVpnPlugin::RemoveFirewallRules - Removing rules for: tarvex_office",
                   "WindowsVpnPlugin::RemoveFirewallRules - Exception: std::bad_alloc"}}));
  EXPECT_EQ(NetshLines(), Join({kDeletes, {kProgramRules[0], kProgramRules[1]}}));
}

}  // namespace tarvex
