#include "plugin_fixture.h"

namespace tarvex {

// Queries every 500 ms, the last at 30.5 s, across the tick count's wrap.
TEST_F(PluginTest, StartWireGuardService_AnswersAndLogsHowTheServiceBehaved) {
  // clang-format off
  const struct {
    Given given; bool started; int queries; const char* last_line;
    Dword start_ms = 0, after_start = kServiceRunning, state = kServiceStopped;
  } cases[] = {
      {Nothing, true, 5, "Service started successfully", 2000},
      {Nothing, true, 1, "Service started successfully", 0, kServiceRunning, kServiceRunning},
      {Nothing, false, 3, "Service failed to start", 1000, kServiceStopped},
      {Nothing, true, 61, "Service started successfully", 29900},
      {Nothing, true, 62, "Service started successfully", 30500},
      {Nothing, false, 62, "Service start timeout", 30501},
      {Failing("QueryServiceStatus", kErrorAccessDenied), false, 1, "Failed to query service status"},
      {Failing("QueryServiceStatus", kThrows), false, 1, "Exception: std::bad_alloc", 5000},
      {Failing("StartServiceW", kErrorAccessDenied), false, 0, "Failed to start service: Access is denied.\r\n"},
      {Failing("OpenServiceW", kErrorAccessDenied), false, 0,
       "Failed to open service: WireGuardTunnel$tarvex_office"},
      {Failing("OpenSCManagerW", kErrorAccessDenied), false, 0, "Failed to open service manager"}};
  // clang-format on
  windows.manager_access = kScManagerConnect;
  windows.service_access = kServiceQueryStatus | kServiceStart;
  for (const auto& c : cases) {
    windows.tick = 0xFFFFFFFF - 1000;
    windows.calls.clear();
    windows.fail.clear();
    windows.services = {
        {u"WireGuardTunnel$tarvex_office", c.state, kServiceWin32OwnProcess, c.start_ms, c.after_start}};
    c.given(windows);
    const std::size_t before = Log().size();

    EXPECT_EQ(plugin.StartWireGuardService("WireGuardTunnel$tarvex_office"), c.started) << c.last_line;

    EXPECT_EQ(windows.calls["QueryServiceStatus"], c.queries) << c.start_ms;
    EXPECT_THAT(Log(before),
                ElementsAre("StartWireGuardService - Starting service: WireGuardTunnel$tarvex_office",
                            std::string("StartWireGuardService - ") + c.last_line));
  }
}

// Every driver name is tried, so the log lists all present; one that cannot be asked about does not count.
TEST_F(PluginTest, IsWireGuardDriverInstalled_ListsEveryDriverServicePresent) {
  windows.manager_access = kScManagerEnumerateService;
  windows.service_access = kServiceQueryStatus;
  const std::string found = "IsWireGuardDriverInstalled - Found driver service: ";
  const std::string none = "IsWireGuardDriverInstalled - WireGuard driver not found";
  // clang-format off
  const struct { Given given; bool installed; Lines lines; /* after "Checking driver status" */ } cases[] = {
      {Nothing, false, {none}},
      {[](SimulatedWindows& w) { w.AddService(u"WireGuard", kServiceStopped); }, true, {found + "WireGuard"}},
      {[](SimulatedWindows& w) {
         w.AddService(u"wg-nt-driver", kServiceRunning, kServiceKernelDriver);
         w.AddService(u"wintun", kServiceStopped, kServiceKernelDriver);
       }, true, {found + "WireGuard", found + "wintun", found + "wg-nt-driver"}},
      {Failing("QueryServiceStatus", kErrorAccessDenied), false, {none}},
      {Failing("OpenServiceW", kThrows, 3), false,
       {found + "WireGuard", found + "wintun", "IsWireGuardDriverInstalled - Exception: std::bad_alloc"}},
      {Failing("OpenSCManagerW", kErrorAccessDenied), false,
       {"IsWireGuardDriverInstalled - Failed to open service manager"}}};
  // clang-format on
  for (const auto& c : cases) {
    windows.fail.clear();
    c.given(windows);
    const std::size_t before = Log().size();
    EXPECT_EQ(plugin.IsWireGuardDriverInstalled(), c.installed);
    Lines expected = Join({{"IsWireGuardDriverInstalled - Checking driver status"}, c.lines});
    if (c.installed) expected.push_back("IsWireGuardDriverInstalled - WireGuard driver is already installed");
    EXPECT_EQ(Log(before), expected);
  }
}

}  // namespace tarvex
