#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "plugin_fixture.h"

namespace tarvex {
namespace {

using ::testing::ElementsAre;

constexpr const char* kName = "WireGuardTunnel$tarvex_office";

class ServiceStartTest : public PluginTest {
 protected:
  // A stopped tunnel service that, once asked, starts for `start_takes_ms`
  // and then takes `state_after_start`.
  SimulatedWindows::Service& Tunnel(Dword start_takes_ms, Dword state_after_start = kServiceRunning) {
    SimulatedWindows::Service& service =
        windows.AddService(u"WireGuardTunnel$tarvex_office", kServiceStopped);
    service.start_takes_ms = start_takes_ms;
    service.state_after_start = state_after_start;
    return service;
  }
  std::string LastLine() const { return LogLines().back(); }
};

TEST_F(ServiceStartTest, WaitsForTheServiceToRunClosingTheServiceBeforeTheManager) {
  Tunnel(2000);

  EXPECT_TRUE(plugin.StartWireGuardService(kName));

  EXPECT_THAT(LogLines(),
              ElementsAre("WindowsVpnPlugin::StartWireGuardService - Starting service: "
                          "WireGuardTunnel$tarvex_office",
                          "WindowsVpnPlugin::StartWireGuardService - Service started successfully"));
  EXPECT_EQ(windows.Calls("QueryServiceStatus"), 5);  // at 0, 0.5, 1, 1.5 and 2 s
  EXPECT_THAT(windows.closed_services, ElementsAre(kName, "manager"));
}

TEST_F(ServiceStartTest, AnAlreadyRunningServiceSucceedsAtTheFirstQuery) {
  Tunnel(0).state = kServiceRunning;

  EXPECT_TRUE(plugin.StartWireGuardService(kName));

  EXPECT_EQ(windows.Calls("QueryServiceStatus"), 1);
  EXPECT_EQ(windows.Calls("Sleep"), 0);
}

TEST_F(ServiceStartTest, AServiceThatStopsWhileStartingFails) {
  Tunnel(1000, kServiceStopped);

  EXPECT_FALSE(plugin.StartWireGuardService(kName));

  EXPECT_EQ(LastLine(), "WindowsVpnPlugin::StartWireGuardService - Service failed to start");
  EXPECT_EQ(windows.tick, 5000u + 1000u);
}

TEST_F(ServiceStartTest, AServiceLeftStartingTimesOutAfterThirtyAndAHalfSecondsAcrossATickWrap) {
  windows.tick = 0xFFFFFFFF - 1000;
  Tunnel(0xFFFFFFFF);

  EXPECT_FALSE(plugin.StartWireGuardService(kName));

  EXPECT_EQ(LastLine(), "WindowsVpnPlugin::StartWireGuardService - Service start timeout");
  EXPECT_EQ(windows.tick, 30500u - 1001u);
  EXPECT_EQ(windows.Calls("Sleep"), 61);
}

struct Deadline {
  Dword runs_at_ms;
  bool started;
};

class ServiceStartDeadlineTest : public ServiceStartTest, public ::testing::WithParamInterface<Deadline> {};

// The last query falls at 30.5 s: what runs by then counts, what runs later does not.
TEST_P(ServiceStartDeadlineTest, TheLastQueryDecides) {
  Tunnel(GetParam().runs_at_ms);

  EXPECT_EQ(plugin.StartWireGuardService(kName), GetParam().started);

  EXPECT_EQ(LastLine(), GetParam().started
                            ? "WindowsVpnPlugin::StartWireGuardService - Service started successfully"
                            : "WindowsVpnPlugin::StartWireGuardService - Service start timeout");
}

INSTANTIATE_TEST_SUITE_P(AroundThirtySeconds, ServiceStartDeadlineTest,
                         ::testing::Values(Deadline{29900, true}, Deadline{30500, true},
                                           Deadline{30501, false}));

TEST_F(ServiceStartTest, EachRefusalIsLoggedWithItsOwnLine) {
  SimulatedWindows::Service& tunnel = Tunnel(0);
  tunnel.query_fails = true;
  EXPECT_FALSE(plugin.StartWireGuardService(kName));
  EXPECT_EQ(LastLine(), "WindowsVpnPlugin::StartWireGuardService - Failed to query service status");

  tunnel.start_error = 1058;
  windows.system_messages[1058] = u"The service cannot be started because it is disabled.\r\n";
  EXPECT_FALSE(plugin.StartWireGuardService(kName));
  EXPECT_EQ(LastLine(),
            "WindowsVpnPlugin::StartWireGuardService - Failed to start service: The service cannot be "
            "started because it is disabled.\r\n");

  EXPECT_FALSE(plugin.StartWireGuardService("WireGuardTunnel$tarvex_unknown"));
  EXPECT_EQ(LastLine(),
            "WindowsVpnPlugin::StartWireGuardService - Failed to open service: "
            "WireGuardTunnel$tarvex_unknown");

  windows.manager_refused = true;
  EXPECT_FALSE(plugin.StartWireGuardService(kName));
  EXPECT_EQ(LastLine(), "WindowsVpnPlugin::StartWireGuardService - Failed to open service manager");
  EXPECT_THAT(windows.closed_services, ElementsAre(kName, "manager", kName, "manager", "manager"));
}

TEST_F(ServiceStartTest, AnExceptionWhileWaitingIsLoggedAndClosesBothHandles) {
  Tunnel(5000);
  windows.ThrowOn("QueryServiceStatus", 3);

  EXPECT_FALSE(plugin.StartWireGuardService(kName));

  EXPECT_EQ(LastLine(), "WindowsVpnPlugin::StartWireGuardService - Exception: std::bad_alloc");
  EXPECT_THAT(windows.closed_services, ElementsAre(kName, "manager"));
}

}  // namespace
}  // namespace tarvex
