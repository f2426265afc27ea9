#include "plugin_fixture.h"

namespace tarvex {

constexpr const char* kName = "WireGuardTunnel$tarvex_office";

struct StartCase {
  Dword state;        // before the start request
  Dword start_ms;     // then start-pending for so long
  Dword after_start;  // and then in this state
  const char* fails;  // an operation that is refused, if any
  bool started;
  int queries;
  const char* last_line;
};

void PrintTo(const StartCase& c, std::ostream* os) { *os << c.fails << c.start_ms << "ms"; }

class ServiceStartTest : public PluginTest, public ::testing::WithParamInterface<StartCase> {};

TEST_P(ServiceStartTest, AnswersAndLogsHowTheServiceBehaved) {
  windows.tick = 0xFFFFFFFF - 1000;  // the 30 s wait must hold across the tick count's wrap
  SimulatedService& tunnel = windows.AddService(u"WireGuardTunnel$tarvex_office", GetParam().state);
  tunnel.start_ms = GetParam().start_ms;
  tunnel.after_start = GetParam().after_start;
  windows.fail[GetParam().fails] = kErrorAccessDenied;

  EXPECT_EQ(plugin.StartWireGuardService(kName), GetParam().started);

  EXPECT_EQ(windows.calls["QueryServiceStatus"], GetParam().queries);
  EXPECT_THAT(LogLines(),
              ElementsAre("WindowsVpnPlugin::StartWireGuardService - Starting service: " + std::string(kName),
                          std::string("WindowsVpnPlugin::StartWireGuardService - ") + GetParam().last_line));
  if (windows.calls["StartServiceW"] > 0) {
    EXPECT_THAT(windows.closed_services, ElementsAre(kName, "manager"));
  }
}

// Queries come every 500 ms; the last falls at 30.5 s.
INSTANTIATE_TEST_SUITE_P(
    Cases, ServiceStartTest,
    ::testing::Values(
        StartCase{kServiceStopped, 2000, kServiceRunning, "", true, 5, "Service started successfully"},
        StartCase{kServiceRunning, 0, kServiceRunning, "", true, 1, "Service started successfully"},
        StartCase{kServiceStopped, 1000, kServiceStopped, "", false, 3, "Service failed to start"},
        StartCase{kServiceStopped, 29900, kServiceRunning, "", true, 61, "Service started successfully"},
        StartCase{kServiceStopped, 30500, kServiceRunning, "", true, 62, "Service started successfully"},
        StartCase{kServiceStopped, 30501, kServiceRunning, "", false, 62, "Service start timeout"},
        StartCase{kServiceStopped, 0, kServiceRunning, "QueryServiceStatus", false, 1,
                  "Failed to query service status"},
        StartCase{kServiceStopped, 0, kServiceRunning, "StartServiceW", false, 0,
                  "Failed to start service: Access is denied.\r\n"},
        StartCase{kServiceStopped, 0, kServiceRunning, "OpenServiceW", false, 0,
                  "Failed to open service: WireGuardTunnel$tarvex_office"},
        StartCase{kServiceStopped, 0, kServiceRunning, "OpenSCManagerW", false, 0,
                  "Failed to open service manager"}));

using ServiceStartExceptionTest = PluginTest;

TEST_F(ServiceStartExceptionTest, IsLoggedAndClosesTheServiceBeforeTheManager) {
  windows.AddService(u"WireGuardTunnel$tarvex_office", kServiceStopped).start_ms = 5000;
  windows.throw_on["QueryServiceStatus"] = 3;

  EXPECT_FALSE(plugin.StartWireGuardService(kName));

  EXPECT_EQ(LogLines().back(), "WindowsVpnPlugin::StartWireGuardService - Exception: std::bad_alloc");
  EXPECT_THAT(windows.closed_services, ElementsAre(kName, "manager"));
}

}  // namespace tarvex
