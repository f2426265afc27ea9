#include "plugin_fixture.h"

namespace tarvex {

class DriverDetectionTest : public PluginTest {
 protected:
  void AddDrivers() {
    windows.AddService(u"wg-nt-driver", kServiceRunning, kServiceKernelDriver);
    windows.AddService(u"wintun", kServiceStopped, kServiceKernelDriver);
  }
};

TEST_F(DriverDetectionTest, ListsEveryDriverServicePresentInNameOrderWhateverItsState) {
  AddDrivers();

  EXPECT_TRUE(plugin.IsWireGuardDriverInstalled());

  EXPECT_THAT(
      LogLines(),
      ElementsAre("WindowsVpnPlugin::IsWireGuardDriverInstalled - Checking driver status",
                  "WindowsVpnPlugin::IsWireGuardDriverInstalled - Found driver service: wintun",
                  "WindowsVpnPlugin::IsWireGuardDriverInstalled - Found driver service: wg-nt-driver",
                  "WindowsVpnPlugin::IsWireGuardDriverInstalled - WireGuard driver is already installed"));
  EXPECT_THAT(windows.closed_services, ElementsAre("wintun", "wg-nt-driver", "manager"));
}

TEST_F(DriverDetectionTest, TheWireGuardServiceItselfCountsAndAllThreeAreListedInNameOrder) {
  windows.AddService(u"WireGuard", kServiceStopped);
  EXPECT_TRUE(plugin.IsWireGuardDriverInstalled());
  AddDrivers();
  EXPECT_TRUE(plugin.IsWireGuardDriverInstalled());

  const std::string found = "WindowsVpnPlugin::IsWireGuardDriverInstalled - Found driver service: ";
  EXPECT_THAT(
      LogLines(),
      ElementsAre("WindowsVpnPlugin::IsWireGuardDriverInstalled - Checking driver status",
                  found + "WireGuard",
                  "WindowsVpnPlugin::IsWireGuardDriverInstalled - WireGuard driver is already installed",
                  "WindowsVpnPlugin::IsWireGuardDriverInstalled - Checking driver status",
                  found + "WireGuard", found + "wintun", found + "wg-nt-driver",
                  "WindowsVpnPlugin::IsWireGuardDriverInstalled - WireGuard driver is already installed"));
}

TEST_F(DriverDetectionTest, ARefusedManagerOrFailedQueriesAnswerFalse) {
  windows.fail["OpenSCManagerW"] = kErrorAccessDenied;
  EXPECT_FALSE(plugin.IsWireGuardDriverInstalled());
  AddDrivers();
  windows.fail = {{"QueryServiceStatus", kErrorAccessDenied}};
  EXPECT_FALSE(plugin.IsWireGuardDriverInstalled());
  windows.fail = {{"OpenServiceW", kErrorAccessDenied}};
  EXPECT_FALSE(plugin.IsWireGuardDriverInstalled());

  const std::string checking = "WindowsVpnPlugin::IsWireGuardDriverInstalled - Checking driver status";
  const std::string not_found = "WindowsVpnPlugin::IsWireGuardDriverInstalled - WireGuard driver not found";
  EXPECT_THAT(
      LogLines(),
      ElementsAre(checking, "WindowsVpnPlugin::IsWireGuardDriverInstalled - Failed to open service manager",
                  checking, not_found, checking, not_found));
  EXPECT_THAT(windows.closed_services, ElementsAre("wintun", "wg-nt-driver", "manager", "manager"));
}

TEST_F(DriverDetectionTest, AnExceptionIsLoggedAndEveryHandleClosed) {
  AddDrivers();
  windows.throw_on["OpenServiceW"] = 3;

  EXPECT_FALSE(plugin.IsWireGuardDriverInstalled());

  EXPECT_THAT(LogLines(),
              ElementsAre("WindowsVpnPlugin::IsWireGuardDriverInstalled - Checking driver status",
                          "WindowsVpnPlugin::IsWireGuardDriverInstalled - Found driver service: wintun",
                          "WindowsVpnPlugin::IsWireGuardDriverInstalled - Exception: std::bad_alloc"));
  EXPECT_THAT(windows.closed_services, ElementsAre("wintun", "manager"));
}

}  // namespace tarvex
