#include "plugin_fixture.h"

namespace tarvex {

const std::string kInstall = "InstallWireGuardTunnel - ", kTry = "TryInstallTunnel - ",
                  kUninstall = "UninstallWireGuardTunnel - ";
const std::string kProtected =
    "D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FA;;;S-1-5-21-1004336348-1177238915-682003330-1001)";
const std::string kNoProgram = "CreateProcess failed: The system cannot find the file specified.\r\n";
const Lines kInstalling = {kInstall + "Installing tunnel: office", kFoundBundled,
                           kInstall + "Found wireguard.exe at: C:\\Apps\\Tarvex\\bin\\wireguard.exe"};
const Lines kRemoving = {kUninstall + "Removing tunnel: tarvex_office", kFoundBundled};
const Lines kRemoved =
    Join({kRemoving, RemoveRulesLines("tarvex_office"), {kUninstall + "Tunnel service removed"}});
const Lines kSkipped = {kUninstall + "Removing tunnel: tarvex_office",
                        kUninstall + "Service WireGuardTunnel$tarvex_office does not exist, skipping"};
const Lines kFresh = Join({kInstalling, kSkipped, {kTry + "Attempting installation without elevation"}});
const Lines kStarting = {"StartWireGuardService - Starting service: WireGuardTunnel$tarvex_office"};
const Lines kUp = Join(
    {{kTry + "Installation successful without elevation", kInstall + "Tunnel service installed successfully"},
     AddRulesLines("tarvex_office"),
     kStarting,
     {"StartWireGuardService - Service started successfully",
      kInstall + "Service started and tunnel is active"}});
const Lines kAdminFailed = {kInstall + "Installation failed, trying with elevation",
                            kInstall + "Already running as admin but installation failed"};
const Lines kToElevation = {kInstall + "Installation failed, trying with elevation",
                            "RunElevatedCommand - Command: " + std::string(kWireGuardExe) +
                                " Params: /installtunnelservice \"" + kOfficeConf + "\""};

void AddOffice(SimulatedWindows& w) { w.AddService(u"WireGuardTunnel$tarvex_office", kServiceRunning); }
void AsUser(SimulatedWindows& w) { w.is_admin = false; }
void NoWireGuard(SimulatedWindows& w) { w.files.erase(kWireGuardExe); }
void Exits1(SimulatedWindows& w) { w.programs[kWireGuardExe].exit_code = 1; }
Lines Exit(const std::string& code) { return {kTry + "wireguard.exe failed with exit code: " + code}; }

// An earlier service goes first, with its rules; an administrator whose install failed is not prompted.
using InstallTest = RoadTest;
TEST_P(InstallTest, FollowsItsRoad) {
  windows.files[kOfficeConf] = kConfig;  // as the creation leaves it
  Travel([this] { return plugin.InstallWireGuardTunnel(kOfficeConf, "office", kConfig); });
}
// clang-format off
INSTANTIATE_TEST_SUITE_P(Roads, InstallTest, ::testing::ValuesIn(std::vector<Road>{
    {"Fresh", Nothing, true, Join({kFresh, kUp}), {kInstallOffice, "netsh 18"}},
    {"Replacing", AddOffice, true, Join({kInstalling, kRemoved, {kFresh.back()}, kUp}),
     {kUninstallOffice, "netsh 9", kInstallOffice, "netsh 18"}},
    {"ExitCode1", Exits1, false, Join({kFresh, Exit("1"), kAdminFailed}), {kInstallOffice}},
    {"CannotStart", Failing("CreateProcessA", kErrorFileNotFound), false,
     Join({kFresh, {kTry + kNoProgram}, kAdminFailed}), {kInstallOffice}},
    {"ElevationRefused", Both(Both(AsUser, Exits1), Failing("ShellExecuteExA", kErrorCancelled)), false,
     Join({kFresh, Exit("1"), kToElevation,
           {"RunElevatedCommand - ShellExecuteEx failed: The operation was canceled by the user.\r\n",
            "RunElevatedCommand - User cancelled elevation",
            kInstall + "Elevated installation also failed"}}),
     {kInstallOffice}},
    {"ElevatedInstallFailed", Both(AsUser, Exits1), false,
     Join({kFresh, Exit("1"), kToElevation,
           {"RunElevatedCommand - Elevated command completed",
            kInstall + "Tunnel service installed successfully"},
           AddRulesLines("tarvex_office"), kStarting,
           {"StartWireGuardService - Failed to open service: WireGuardTunnel$tarvex_office",
            kInstall + "Failed to start service after installation"}}),
     {kInstallOffice, "netsh 18"}},
    {"NoWireGuard", NoWireGuard, false, {kInstalling[0], kNotFound, kInstall + "wireguard.exe not found"}, {}},
    {"Exception", Failing("GetModuleFileNameA", kThrows), false,
     {kInstalling[0], kInstall + "Exception: std::bad_alloc"}, {}}}));
// clang-format on

// With no more rights than it needs; without the manager the removal runs anyway, its exit code unread.
using UninstallTest = RoadTest;
TEST_P(UninstallTest, FollowsItsRoad) {
  windows.manager_access = kScManagerConnect;
  windows.service_access = kServiceQueryStatus;
  Travel([this] { return plugin.UninstallWireGuardTunnel("tarvex_office"); });
}
// clang-format off
INSTANTIATE_TEST_SUITE_P(Roads, UninstallTest, ::testing::ValuesIn(std::vector<Road>{
    {"Installed", AddOffice, true, kRemoved, {kUninstallOffice, "netsh 9"}},
    {"NoManager", Failing("OpenSCManagerW", kErrorAccessDenied), true, kRemoved, {kUninstallOffice, "netsh 9"}},
    {"Absent", Nothing, true, kSkipped, {}},
    {"Unopened", Both(AddOffice, Failing("OpenServiceW", kErrorAccessDenied)), true, kSkipped, {}},
    {"ExitCode1", Both(AddOffice, Exits1), true, kRemoved, {kUninstallOffice, "netsh 9"}},
    {"CannotStart", Both(AddOffice, Failing("CreateProcessA", kErrorFileNotFound)), false,
     Join({kRemoving, {kUninstall + kNoProgram}}), {kUninstallOffice}},
    {"Exception", Failing("OpenServiceW", kThrows), false, {kSkipped[0], kUninstall + "Exception: std::bad_alloc"},
     {}}}));
// clang-format on

// A child process holds the call for at most its limit; a slow one is left running.
TEST_F(PluginTest, EachChildProcessIsWaitedForUpToItsLimit) {
  const std::map<std::string, std::function<bool()>> operations = {
      {"install", [this] { return plugin.TryInstallTunnel(kWireGuardExe, kOfficeConf); }},
      {"removal", [this] { return AddOffice(windows), plugin.UninstallWireGuardTunnel("tarvex_office"); }},
      {"netsh", [this] { return plugin.RemoveFirewallRules("tarvex_office"); }},
      {"elevated", [this] { return plugin.RunElevatedCommand(kWireGuardExe, "/installtunnelservice"); }}};
  // In this order netsh still takes its usual 50 ms in the removal.
  // clang-format off
  const struct { const char* operation; Dword runs_ms; bool answer; Dword waited_ms; } cases[] = {
      {"install", 9900, true, 9900},   {"install", 10001, false, 10000}, {"removal", 4900, true, 5350},
      {"removal", 5001, true, 5450},   {"netsh", 4900, true, 9 * 4900},  {"netsh", 5001, true, 9 * 5000},
      {"elevated", 29900, true, 29900}, {"elevated", 30001, true, 30000}};
  // clang-format on
  for (const auto& c : cases) {
    const Dword before = windows.tick;
    windows.programs[c.operation == std::string("netsh") ? kNetshExe : kWireGuardExe].runs_ms = c.runs_ms;
    EXPECT_EQ(operations.at(c.operation)(), c.answer) << c.operation << " " << c.runs_ms;
    EXPECT_EQ(windows.tick - before, c.waited_ms) << c.operation << " " << c.runs_ms;
  }
}

// The file holds the private key: created new, for SYSTEM, the administrators and the user only, in a wg
// folder made so and held until the install returned. A file not written whole is not left behind.
using CreationTest = RoadTest;
TEST_P(CreationTest, FollowsItsRoad) {
  bool folder_held = false;  // the wg folder is the only handle open while wireguard.exe starts
  windows.before_call = [&](const std::string& operation) {
    folder_held |= operation == "CreateProcessA" && windows.OpenHandles() == 1;
  };
  Travel([this] { return plugin.CreateWireGuardTunnel(kConfig, "office"); }, "CreateWireGuardTunnel - ");
  // A failed step writes its failure line alone, after the locator's and the driver check's.
  if (*GetParam().file != 0 && GetParam().programs.empty()) {
    EXPECT_EQ(Log().size(), GetParam().log.size() + 3);
  }
  if (GetParam().answer) {
    EXPECT_TRUE(folder_held);
    EXPECT_EQ(windows.file_security.at(kOfficeConf), kProtected);
    EXPECT_EQ(windows.file_security.at(kWg), kProtected);
  }
}
const char* const kOnDisk =
    "[Interface]\r\nPrivateKey = cGxhY2Vob2xkZXI=\r\nAddress = 10.66.66.2/32, fd42::2/128\r\n\r\n"
    "[Peer]\r\nEndpoint = 203.0.113.5:51820\r\n";
const std::string kSystemExe = "C:\\Program Files\\WireGuard\\wireguard.exe";
const Lines kBundled = {"Creating WireGuard tunnel for: office",
                        "WireGuard found at: " + std::string(kWireGuardExe),
                        "Using bundled WireGuard executable"};
const Lines kSystem = {kBundled[0], "WireGuard found at: " + kSystemExe,
                       "Using system-installed WireGuard executable"};
const std::string kSaved = "Config saved to: " + std::string(kOfficeConf);
const Lines kNoFolder = Join({kBundled, {"Failed to create wg directory: " + kWg}});
const Lines kNoFile = Join({kBundled, {"Failed to create config file: " + std::string(kOfficeConf)}});
const Lines kThrown = Join({kBundled, {"error: std::bad_alloc"}});
// A step that fails (or throws) leaves no configuration file ("": not looked at).
Road Failed(const Lines& log, const char* operation, int call, Dword error = kErrorAccessDenied,
            const char* file = "none") {
  return {operation, Failing(operation, error, call), false, log, {}, file};
}
void SystemWireGuard(SimulatedWindows& w) {
  w.files.erase(kWireGuardExe);
  w.files[kSystemExe] = "";  // a program that does not run
}
const char* const kDescriptor = "ConvertStringSecurityDescriptorToSecurityDescriptorA";
// clang-format off
INSTANTIATE_TEST_SUITE_P(Roads, CreationTest, ::testing::ValuesIn(std::vector<Road>{
    {"Fresh", Nothing, true, Join({kBundled, {kSaved, "WireGuard tunnel created successfully"}}),
     {kInstallOffice, "netsh 18"}, kOnDisk},
    {"WithoutTemp", [](SimulatedWindows& w) { w.env.erase("TEMP"); }, false,  // and C:\Temp does not exist
     {kBundled[0], kBundled[1], kBundled[2], "Failed to create wg directory: C:\\Temp\\wg"}, {}},
    {"SystemWireGuardAndDriver",
     Both(SystemWireGuard,
          [](SimulatedWindows& w) { w.AddService(u"wintun", kServiceStopped, kServiceKernelDriver); }),
     false, Join({kSystem, {"WireGuard driver already installed, no elevation needed", kSaved,
                            "Failed to install WireGuard tunnel"}}),
     {"\"" + kSystemExe + "\" /installtunnelservice \"" + kOfficeConf + "\""}, kOnDisk},
    {"UserWithoutDriver", Both(Both(AsUser, Exits1), Failing("ShellExecuteExA", kErrorCancelled)), false,
     Join({kBundled, {"Driver not installed, elevation will be requested", kSaved,
                      "Failed to install WireGuard tunnel"}}), {kInstallOffice}, kOnDisk},
    {"NoWireGuard", NoWireGuard, false, {kBundled[0], "WireGuard executable not found in bundle or system",
                                         "Please ensure wireguard.exe is in the bin/ directory"}, {}},
    {"UnknownException", [](SimulatedWindows& w) {
       w.before_call = [](const std::string& call) { if (call == "GetFileAttributesA") throw 7; }; },
     false, {kBundled[0], "Unknown exception"}, {}},
    Failed(kNoFolder, "OpenProcessToken", 1),            Failed(kNoFolder, kDescriptor, 1),
    Failed(kNoFolder, "CreateFileA", 1),                 Failed(kNoFolder, "GetFileInformationByHandle", 1),
    Failed(kNoFolder, "GetSecurityInfo", 1),             Failed(kNoFolder, "ConvertSidToStringSidA", 2),
    Failed(kNoFile, "OpenProcessToken", 2),              Failed(kNoFile, "GetTokenInformation", 4),
    Failed(kNoFile, "ConvertSidToStringSidA", 3),        Failed(kNoFile, kDescriptor, 2),
    Failed(kNoFile, "CreateFileA", 2),                   Failed(kNoFile, "OpenOsfHandle", 0),
    Failed(kNoFile, "FdOpen", 0),                        Failed(kNoFile, "FileClose", 0),
    Failed(kThrown, "GetTokenInformation", 1, kThrows),  Failed(kThrown, "CreateFileA", 1, kThrows),
    Failed(kThrown, "GetSecurityInfo", 1, kThrows),      Failed(kThrown, "OpenOsfHandle", 1, kThrows, ""),
    Failed(kThrown, "FdOpen", 1, kThrows, ""),
    {"DiskFull", [](SimulatedWindows& w) { w.size_limits[kOfficeConf] = 10; }, false, kNoFile, {}, "none"},
    {"Planted", [](SimulatedWindows& w) {
       w.before_call = [&w](const std::string& op) { if (op == "CreateFileA") w.files[kOfficeConf] = "x"; }; },
     false, kNoFile, {}, "x"}}));
// clang-format on

// Anyone may make "wg" in a shared TEMP: only one SYSTEM, the administrators or the user made, and no
// junction, is written or deleted in. There a file left behind is replaced.
TEST_F(PluginTest, TheWgFolderIsUsedOnlyWhenNoOtherUserCanHaveMadeIt) {
  // clang-format off
  const struct { const char* owner; /* null: the user */ bool junction, used; } cases[] = {
      {nullptr, false, true}, {"S-1-5-18", false, true}, {"S-1-5-32-544", false, true}, {nullptr, true, false},
      {"S-1-5-21-1004336348-1177238915-682003330-1002", false, false}};
  // clang-format on
  windows.folders.insert(kWg);
  for (const auto& c : cases) {
    windows.folder_owners = {{kWg, c.owner != nullptr ? c.owner : windows.user_sid}};
    windows.junctions = {c.junction ? kWg : ""};
    windows.files[kOfficeConf] = "left";
    windows.file_security[kOfficeConf] = "D:(A;;FA;;;WD)";
    windows.services.clear();  // the removal skips the service

    std::size_t held_at_delete = 0;  // the folder stays open until its file is gone
    windows.before_call = [&](const std::string& operation) {
      held_at_delete = operation == "DeleteFileA" ? windows.OpenHandles() : held_at_delete;
    };
    const std::size_t before = Log().size();
    EXPECT_TRUE(plugin.RemoveWindowsVPNTunnel("office"));
    windows.before_call = nullptr;
    EXPECT_EQ(windows.files.count(kOfficeConf), c.used ? 0u : 1u) << c.owner << c.junction;
    EXPECT_EQ(held_at_delete, c.used ? 1u : 0u) << c.owner << c.junction;
    EXPECT_EQ(Log(before).size(), c.used ? 5u : 4u);  // an unused folder is passed over without a line
    windows.files[kOfficeConf] = "left";
    EXPECT_EQ(plugin.CreateWireGuardTunnel("a", "office"), c.used) << c.owner << c.junction;
    EXPECT_EQ(windows.files.at(kOfficeConf), c.used ? "a" : "left");
    EXPECT_EQ(windows.file_security.at(kOfficeConf), c.used ? kProtected : "D:(A;;FA;;;WD)");
  }
}

}  // namespace tarvex
