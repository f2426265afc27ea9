#include <functional>
#include <map>

#include "tunnel_fixture.h"

namespace tarvex {

const std::string kInstall = "WindowsVpnPlugin::InstallWireGuardTunnel - ";
const std::string kTry = "WindowsVpnPlugin::TryInstallTunnel - ";
const std::string kUninstall = "WindowsVpnPlugin::UninstallWireGuardTunnel - ";
const std::string kFound =
    "WindowsVpnPlugin::FindWireGuardExecutable - Found bundled at: C:\\Apps\\Tarvex\\bin\\wireguard.exe";
const std::string kInstallCommand =
    "\"C:\\Apps\\Tarvex\\bin\\wireguard.exe\" /installtunnelservice "
    "\"C:\\Users\\ana\\AppData\\Local\\Temp\\wg\\tarvex_office.conf\"";
const std::string kElevatedCommand =
    "WindowsVpnPlugin::RunElevatedCommand - Command: C:\\Apps\\Tarvex\\bin\\wireguard.exe Params: "
    "/installtunnelservice \"C:\\Users\\ana\\AppData\\Local\\Temp\\wg\\tarvex_office.conf\"";

class TunnelServiceTest : public TunnelTest {
 protected:
  bool Install() {
    windows.files[kOfficeConf] = kConfig;  // as the creation leaves it
    return plugin.InstallWireGuardTunnel(kOfficeConf, "office", kConfig);
  }

  // The lines up to the unelevated install's first line, for a tunnel whose service does not exist yet.
  const std::vector<std::string> fresh_start_ = {
      kInstall + "Installing tunnel: office",
      kFound,
      kInstall + "Found wireguard.exe at: C:\\Apps\\Tarvex\\bin\\wireguard.exe",
      kUninstall + "Removing tunnel: tarvex_office",
      kUninstall + "Service WireGuardTunnel$tarvex_office does not exist, skipping",
      kTry + "Attempting installation without elevation"};
  const std::vector<std::string> started_ = {
      "WindowsVpnPlugin::StartWireGuardService - Starting service: WireGuardTunnel$tarvex_office",
      "WindowsVpnPlugin::StartWireGuardService - Service started successfully"};
};

TEST_F(TunnelServiceTest, AFreshInstallAsAdministratorRunsOnlyTheInstallAndStartsTheService) {
  EXPECT_TRUE(Install());

  EXPECT_EQ(LogLines(), Join({fresh_start_,
                              {kTry + "Installation successful without elevation",
                               kInstall + "Tunnel service installed successfully"},
                              AddRulesLines("tarvex_office"),
                              started_,
                              {kInstall + "Service started and tunnel is active"}}));
  EXPECT_THAT(OtherLaunches(), ElementsAre(kInstallCommand));
  EXPECT_EQ(NetshLines().size(), 18u);
  EXPECT_THAT(windows.message_boxes, IsEmpty());
}

TEST_F(TunnelServiceTest, AnEarlierServiceIsRemovedWithItsRulesBeforeTheInstall) {
  windows.AddService(u"WireGuardTunnel$tarvex_office", kServiceRunning);

  EXPECT_TRUE(Install());

  EXPECT_EQ(LogLines(),
            Join({{kInstall + "Installing tunnel: office", kFound,
                   kInstall + "Found wireguard.exe at: C:\\Apps\\Tarvex\\bin\\wireguard.exe",
                   kUninstall + "Removing tunnel: tarvex_office", kFound},
                  RemoveRulesLines("tarvex_office"),
                  {kUninstall + "Tunnel service removed", kTry + "Attempting installation without elevation",
                   kTry + "Installation successful without elevation",
                   kInstall + "Tunnel service installed successfully"},
                  AddRulesLines("tarvex_office"),
                  started_,
                  {kInstall + "Service started and tunnel is active"}}));
  EXPECT_THAT(OtherLaunches(),
              ElementsAre("\"C:\\Apps\\Tarvex\\bin\\wireguard.exe\" /uninstalltunnelservice tarvex_office",
                          kInstallCommand));
  EXPECT_EQ(windows.tick, 5000u + 800 + 9 * 50 + 800 + 18 * 50);  // each child waited for
}

struct FailedInstall {
  const char* name;
  Dword exit_code;
  Dword runs_ms;
  bool admin;
  std::map<std::string, Dword> fail;  // none: the user accepts the prompt
  std::vector<std::string> after_attempt;
  int boxes;
  std::size_t netsh;  // firewall commands run
};

void PrintTo(const FailedInstall& c, std::ostream* os) { *os << c.name; }

class FailedInstallTest : public TunnelServiceTest, public ::testing::WithParamInterface<FailedInstall> {};

TEST_P(FailedInstallTest, FollowsTheDecisionTreeAndAnswersFalse) {
  windows.programs[kWireGuardExe] = {GetParam().exit_code, GetParam().runs_ms};
  windows.is_admin = GetParam().admin;
  windows.fail = GetParam().fail;

  EXPECT_FALSE(Install());

  EXPECT_EQ(LogLines(), Join({fresh_start_, GetParam().after_attempt}));
  EXPECT_EQ(static_cast<int>(windows.message_boxes.size()), GetParam().boxes);
  EXPECT_THAT(OtherLaunches(), ElementsAre(kInstallCommand));
  EXPECT_EQ(windows.elevations.size(), GetParam().boxes > 0 ? 1u : 0u);
  EXPECT_EQ(NetshLines().size(), GetParam().netsh);
}

const std::vector<std::string> kAcceptedButFailed =
    Join({{kTry + "wireguard.exe failed with exit code: 1",
           kInstall + "Installation failed, trying with elevation", kElevatedCommand,
           "WindowsVpnPlugin::RunElevatedCommand - Elevated command completed",
           kInstall + "Tunnel service installed successfully"},
          AddRulesLines("tarvex_office"),
          {"WindowsVpnPlugin::StartWireGuardService - Starting service: WireGuardTunnel$tarvex_office",
           "WindowsVpnPlugin::StartWireGuardService - Failed to open service: WireGuardTunnel$tarvex_office",
           kInstall + "Failed to start service after installation"}});

INSTANTIATE_TEST_SUITE_P(
    Paths, FailedInstallTest,
    ::testing::Values(
        FailedInstall{"ExitCode1AsAdministrator",
                      1,
                      0,
                      true,
                      {},
                      {kTry + "wireguard.exe failed with exit code: 1",
                       kInstall + "Installation failed, trying with elevation",
                       kInstall + "Already running as admin but installation failed"},
                      0,
                      0},
        FailedInstall{"HangPastTenSeconds",
                      0,
                      12000,
                      true,
                      {},
                      {kTry + "wireguard.exe failed with exit code: 259",
                       kInstall + "Installation failed, trying with elevation",
                       kInstall + "Already running as admin but installation failed"},
                      0,
                      0},
        FailedInstall{"CannotStart",
                      0,
                      0,
                      true,
                      {{"CreateProcessA", kErrorFileNotFound}},
                      {kTry + "CreateProcess failed: The system cannot find the file specified.\r\n",
                       kInstall + "Installation failed, trying with elevation",
                       kInstall + "Already running as admin but installation failed"},
                      0,
                      0},
        FailedInstall{"ElevationRefused",
                      1,
                      0,
                      false,
                      {{"ShellExecuteExA", kErrorCancelled}},
                      {kTry + "wireguard.exe failed with exit code: 1",
                       kInstall + "Installation failed, trying with elevation", kElevatedCommand,
                       "WindowsVpnPlugin::RunElevatedCommand - ShellExecuteEx failed: The operation was "
                       "canceled by the user.\r\n",
                       "WindowsVpnPlugin::RunElevatedCommand - User cancelled elevation",
                       kInstall + "Elevated installation also failed"},
                      2,
                      0},
        FailedInstall{"ElevationAcceptedButTheInstallFailed", 1, 0, false, {}, kAcceptedButFailed, 1, 18}));

struct WaitCase {
  const char* operation;
  const char* program;
  Dword runs_ms;
  bool answer;
  Dword waited_ms;
};

// A child process holds the call for at most its limit: 10 s for the
// install, 5 s for the removal and for each netsh, 30 s for the elevated
// install. A slow one is left running and the call goes on.
TEST_F(TunnelServiceTest, EachChildProcessIsWaitedForUpToItsLimit) {
  const std::map<std::string, std::function<bool()>> operations = {
      {"install", [this] { return plugin.TryInstallTunnel(kWireGuardExe, kOfficeConf); }},
      {"removal", [this] { return plugin.UninstallWireGuardTunnel("tarvex_office"); }},
      {"netsh", [this] { return plugin.RemoveFirewallRules("tarvex_office"); }},
      {"elevated", [this] { return plugin.RunElevatedCommand(kWireGuardExe, "/installtunnelservice"); }}};
  const WaitCase cases[] = {{"install", kWireGuardExe, 9900, true, 9900},
                            {"install", kWireGuardExe, 10001, false, 10000},
                            {"removal", kWireGuardExe, 4900, true, 4900 + 9 * 50},
                            {"removal", kWireGuardExe, 5001, true, 5000 + 9 * 50},
                            {"netsh", kNetshExe, 4900, true, 9 * 4900},
                            {"netsh", kNetshExe, 5001, true, 9 * 5000},
                            {"elevated", kWireGuardExe, 29900, true, 29900},
                            {"elevated", kWireGuardExe, 30001, true, 30000}};
  for (const WaitCase& c : cases) {
    if (!HasService(kOfficeService)) {
      windows.AddService(u"WireGuardTunnel$tarvex_office", kServiceRunning);  // so the removal runs
    }
    const Dword usual = windows.programs[c.program].runs_ms;
    windows.programs[c.program].runs_ms = c.runs_ms;
    const Dword before = windows.tick;
    EXPECT_EQ(operations.at(c.operation)(), c.answer) << c.operation << " " << c.runs_ms;
    EXPECT_EQ(windows.tick - before, c.waited_ms) << c.operation << " " << c.runs_ms;
    windows.programs[c.program].runs_ms = usual;
  }
}

TEST_F(TunnelServiceTest, WithoutWireGuardNothingIsInstalledOrRemoved) {
  windows.files.erase(kWireGuardExe);
  EXPECT_FALSE(Install());
  windows.AddService(u"WireGuardTunnel$tarvex_office", kServiceRunning);
  EXPECT_FALSE(plugin.UninstallWireGuardTunnel("tarvex_office"));

  const std::string not_found =
      "WindowsVpnPlugin::FindWireGuardExecutable - WireGuard executable not found in bundle or system";
  EXPECT_EQ(LogLines(),
            Join({{kInstall + "Installing tunnel: office", not_found, kInstall + "wireguard.exe not found",
                   kUninstall + "Removing tunnel: tarvex_office", not_found,
                   kUninstall + "wireguard.exe not found"}}));
  EXPECT_THAT(windows.launches, IsEmpty());
}

TEST_F(TunnelServiceTest, RemovalWithoutTheManagerRunsTheCommandAndAnAbsentServiceNeedsNoProgram) {
  windows.fail["OpenSCManagerW"] = kErrorAccessDenied;
  EXPECT_TRUE(plugin.UninstallWireGuardTunnel("tarvex_office"));
  windows.fail.clear();
  EXPECT_TRUE(plugin.UninstallWireGuardTunnel("tarvex_office"));
  // A service that cannot be opened, for whatever reason, counts as absent.
  windows.AddService(u"WireGuardTunnel$tarvex_office", kServiceRunning);
  windows.fail["OpenServiceW"] = kErrorAccessDenied;
  EXPECT_TRUE(plugin.UninstallWireGuardTunnel("tarvex_office"));

  const std::vector<std::string> skipped = {
      kUninstall + "Removing tunnel: tarvex_office",
      kUninstall + "Service WireGuardTunnel$tarvex_office does not exist, skipping"};
  EXPECT_EQ(LogLines(), Join({{kUninstall + "Removing tunnel: tarvex_office", kFound},
                              RemoveRulesLines("tarvex_office"),
                              {kUninstall + "Tunnel service removed"},
                              skipped,
                              skipped}));
  EXPECT_EQ(OtherLaunches().size(), 1u);
  EXPECT_EQ(NetshLines().size(), 9u);
  EXPECT_THAT(windows.closed_services, ElementsAre("manager", "manager"));
}

TEST_F(TunnelServiceTest, ARemovalThatCannotStartIsAFailureAndItsExitCodeIsIgnored) {
  windows.AddService(u"WireGuardTunnel$tarvex_office", kServiceRunning);
  windows.programs[kWireGuardExe] = {1, 9000};
  EXPECT_TRUE(plugin.UninstallWireGuardTunnel("tarvex_office"));
  EXPECT_EQ(windows.tick, 5000u + 5000 + 9 * 50);

  windows.programs.erase(kWireGuardExe);
  EXPECT_FALSE(plugin.UninstallWireGuardTunnel("tarvex_office"));
  EXPECT_EQ(
      LogLines(),
      Join({{kUninstall + "Removing tunnel: tarvex_office", kFound},
            RemoveRulesLines("tarvex_office"),
            {kUninstall + "Tunnel service removed", kUninstall + "Removing tunnel: tarvex_office", kFound,
             kUninstall + "CreateProcess failed: The system cannot find the file specified.\r\n"}}));
  EXPECT_EQ(NetshLines().size(), 9u);  // the first removal's deletes only
  // The existence test closes the service before the manager.
  EXPECT_THAT(windows.closed_services, ElementsAre(kOfficeService, "manager", kOfficeService, "manager"));
}

TEST_F(TunnelServiceTest, EachOperationCatchesItsOwnException) {
  windows.throw_on["CreateProcessA"] = 1;
  EXPECT_FALSE(plugin.TryInstallTunnel(kWireGuardExe, kOfficeConf));
  windows.throw_on["GetModuleFileNameA"] = 1;
  EXPECT_FALSE(Install());
  windows.throw_on["OpenServiceW"] = 1;
  EXPECT_FALSE(plugin.UninstallWireGuardTunnel("tarvex_office"));

  EXPECT_THAT(
      LogLines(),
      ElementsAre(kTry + "Attempting installation without elevation", kTry + "Exception: std::bad_alloc",
                  kInstall + "Installing tunnel: office", kInstall + "Exception: std::bad_alloc",
                  kUninstall + "Removing tunnel: tarvex_office", kUninstall + "Exception: std::bad_alloc"));
  EXPECT_THAT(windows.launches, ElementsAre(kInstallCommand));  // tried, and thrown out of
  EXPECT_THAT(windows.closed_services, ElementsAre("manager"));
}

}  // namespace tarvex
