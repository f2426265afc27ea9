#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "plugin_fixture.h"

namespace tarvex {
namespace {

using ::testing::ElementsAre;
using DriverDetectionTest = PluginTest;

TEST_F(DriverDetectionTest, ListsEveryDriverServicePresentInOrderWhateverItsState) {
  windows.AddService(u"wg-nt-driver", kServiceRunning, kServiceKernelDriver);
  windows.AddService(u"wintun", kServiceStopped, kServiceKernelDriver);
  windows.AddService(u"WireGuard", kServiceStopped, kServiceKernelDriver);

  EXPECT_TRUE(plugin.IsWireGuardDriverInstalled());

  EXPECT_THAT(LogLines(),
              ElementsAre("WindowsVpnPlugin::IsWireGuardDriverInstalled - Checking driver status",
                          "WindowsVpnPlugin::IsWireGuardDriverInstalled - Found driver service: WireGuard",
                          "WindowsVpnPlugin::IsWireGuardDriverInstalled - Found driver service: wintun",
                          "WindowsVpnPlugin::IsWireGuardDriverInstalled - Found driver service: "
                          "wg-nt-driver",
                          "WindowsVpnPlugin::IsWireGuardDriverInstalled - WireGuard driver is already "
                          "installed"));
  EXPECT_THAT(windows.closed_services, ElementsAre("WireGuard", "wintun", "wg-nt-driver", "manager"));
}

TEST_F(DriverDetectionTest, ServicesThatCannotBeOpenedOrQueriedDoNotCount) {
  windows.AddService(u"WireGuard", kServiceRunning, kServiceKernelDriver).open_denied = true;
  windows.AddService(u"wintun", kServiceRunning, kServiceKernelDriver).query_fails = true;

  EXPECT_FALSE(plugin.IsWireGuardDriverInstalled());

  EXPECT_THAT(LogLines(),
              ElementsAre("WindowsVpnPlugin::IsWireGuardDriverInstalled - Checking driver status",
                          "WindowsVpnPlugin::IsWireGuardDriverInstalled - WireGuard driver not found"));
  EXPECT_THAT(windows.closed_services, ElementsAre("wintun", "manager"));
}

TEST_F(DriverDetectionTest, ARefusedManagerIsNeitherFoundNorNotFound) {
  windows.manager_refused = true;

  EXPECT_FALSE(plugin.IsWireGuardDriverInstalled());

  EXPECT_THAT(LogLines(),
              ElementsAre("WindowsVpnPlugin::IsWireGuardDriverInstalled - Checking driver status",
                          "WindowsVpnPlugin::IsWireGuardDriverInstalled - Failed to open service manager"));
}

TEST_F(DriverDetectionTest, AnExceptionIsLoggedAndEveryHandleClosed) {
  windows.AddService(u"WireGuard", kServiceRunning, kServiceKernelDriver);
  windows.ThrowOn("OpenServiceW", 2);

  EXPECT_FALSE(plugin.IsWireGuardDriverInstalled());

  EXPECT_EQ(LogLines().back(), "WindowsVpnPlugin::IsWireGuardDriverInstalled - Exception: std::bad_alloc");
  EXPECT_THAT(windows.closed_services, ElementsAre("WireGuard", "manager"));
}

}  // namespace
}  // namespace tarvex
