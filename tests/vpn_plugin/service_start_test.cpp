#include "plugin_fixture.h"

namespace tarvex {

struct StartCase {
  Dword state;        // before the start request
  Dword start_ms;     // then start-pending for so long
  Dword after_start;  // and then in this state
  const char* fails;  // an operation that is refused, if any
  Dword error;
  bool started;
  int queries;
  const char* last_line;
};
void PrintTo(const StartCase& c, std::ostream* os) { *os << c.fails << c.start_ms << "ms"; }
class ServiceStartTest : public PluginTest, public ::testing::WithParamInterface<StartCase> {};

// Asked with no more rights than it needs; every handle is given back.
TEST_P(ServiceStartTest, AnswersAndLogsHowTheServiceBehaved) {
  windows.tick = 0xFFFFFFFF - 1000;  // the 30 s wait must hold across the tick count's wrap
  windows.manager_access = kScManagerConnect;
  windows.service_access = kServiceQueryStatus | kServiceStart;
  SimulatedService& tunnel = windows.AddService(u"WireGuardTunnel$tarvex_office", GetParam().state);
  tunnel.start_ms = GetParam().start_ms;
  tunnel.after_start = GetParam().after_start;
  windows.fail[GetParam().fails] = {GetParam().error};

  EXPECT_EQ(plugin.StartWireGuardService("WireGuardTunnel$tarvex_office"), GetParam().started);

  EXPECT_EQ(windows.calls["QueryServiceStatus"], GetParam().queries);
  EXPECT_THAT(Log(), ElementsAre("StartWireGuardService - Starting service: WireGuardTunnel$tarvex_office",
                                 std::string("StartWireGuardService - ") + GetParam().last_line));
}

// Queries come every 500 ms; the last falls at 30.5 s.
// clang-format off
INSTANTIATE_TEST_SUITE_P(Cases, ServiceStartTest, ::testing::Values(
    StartCase{kServiceStopped, 2000, kServiceRunning, "", 0, true, 5, "Service started successfully"},
    StartCase{kServiceRunning, 0, kServiceRunning, "", 0, true, 1, "Service started successfully"},
    StartCase{kServiceStopped, 1000, kServiceStopped, "", 0, false, 3, "Service failed to start"},
    StartCase{kServiceStopped, 29900, kServiceRunning, "", 0, true, 61, "Service started successfully"},
    StartCase{kServiceStopped, 30500, kServiceRunning, "", 0, true, 62, "Service started successfully"},
    StartCase{kServiceStopped, 30501, kServiceRunning, "", 0, false, 62, "Service start timeout"},
    StartCase{kServiceStopped, 0, kServiceRunning, "QueryServiceStatus", kErrorAccessDenied, false, 1,
              "Failed to query service status"},
    StartCase{kServiceStopped, 5000, kServiceRunning, "QueryServiceStatus", kThrows, false, 1,
              "Exception: std::bad_alloc"},
    StartCase{kServiceStopped, 0, kServiceRunning, "StartServiceW", kErrorAccessDenied, false, 0,
              "Failed to start service: Access is denied.\r\n"},
    StartCase{kServiceStopped, 0, kServiceRunning, "OpenServiceW", kErrorAccessDenied, false, 0,
              "Failed to open service: WireGuardTunnel$tarvex_office"},
    StartCase{kServiceStopped, 0, kServiceRunning, "OpenSCManagerW", kErrorAccessDenied, false, 0,
              "Failed to open service manager"}));
// clang-format on

// Every driver name is tried, with no more rights than a query needs, so the
// log lists all that are present, whatever their state; one that cannot be
// asked about does not count.
TEST_F(PluginTest, IsWireGuardDriverInstalled_ListsEveryDriverServicePresent) {
  windows.manager_access = kScManagerEnumerateService;
  windows.service_access = kServiceQueryStatus;
  const std::string found = "IsWireGuardDriverInstalled - Found driver service: ";
  // clang-format off
  const struct { Given given; bool installed; Lines lines; /* after "Checking driver status" */ } cases[] = {
      {Nothing, false, {"IsWireGuardDriverInstalled - WireGuard driver not found"}},
      {[](SimulatedWindows& w) { w.AddService(u"WireGuard", kServiceStopped); }, true, {found + "WireGuard"}},
      {[](SimulatedWindows& w) {
         w.AddService(u"wg-nt-driver", kServiceRunning, kServiceKernelDriver);
         w.AddService(u"wintun", kServiceStopped, kServiceKernelDriver);
       },
       true,
       {found + "WireGuard", found + "wintun", found + "wg-nt-driver"}},
      {Failing("QueryServiceStatus", kErrorAccessDenied),
       false,
       {"IsWireGuardDriverInstalled - WireGuard driver not found"}},
      {Failing("OpenServiceW", kThrows, 3),
       false,
       {found + "WireGuard", found + "wintun", "IsWireGuardDriverInstalled - Exception: std::bad_alloc"}},
      {Failing("OpenSCManagerW", kErrorAccessDenied),
       false,
       {"IsWireGuardDriverInstalled - Failed to open service manager"}},
  };
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
