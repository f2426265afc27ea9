#include "plugin_fixture.h"

namespace tarvex {

constexpr const char* kFound = "WindowsVpnPlugin::CheckWireGuardServices - Found running WireGuard service: ";

class ServiceEnumerationTest : public PluginTest {
 protected:
  void AddStopped(int count) {
    for (int i = 0; i < count; ++i) {
      windows.AddService(u"Service" + std::u16string(1, u'A' + windows.services.size()), kServiceStopped);
    }
  }
  // After each of the first `times` enumeration calls (every call when negative), `count` more appear.
  void Grow(int times, int count) {
    windows.after_enumeration = [=] {
      if (times < 0 || windows.calls["EnumServicesStatusExW"] <= times) {
        AddStopped(count);
      }
    };
  }
};

TEST_F(ServiceEnumerationTest, OnlyRunningWin32ServicesWithATunnelPrefixAtTheStartCount) {
  windows.AddService(u"wireguardtunnel$tarvex_case", kServiceRunning);
  windows.AddService(u"WireGuardTunnel$tarvex_stopped", kServiceStopped);
  windows.AddService(u"MyWireGuardTunnel$x", kServiceRunning);
  windows.AddService(u"tarvex_driver", kServiceRunning, kServiceKernelDriver);
  EXPECT_FALSE(plugin.CheckWireGuardServices());
  EXPECT_THAT(LogLines(), IsEmpty());

  // Another client's tunnel counts; its name is narrowed to the low bytes.
  windows.AddService(u"tarvex_caf\xFFE9", kServiceRunning, kServiceWin32ShareProcess);
  EXPECT_TRUE(plugin.CheckWireGuardServices());
  EXPECT_THAT(LogLines(), ElementsAre(std::string(kFound) + "tarvex_caf\xE9"));
  EXPECT_EQ(windows.closed_services.back(), "manager");
}

TEST_F(ServiceEnumerationTest, FailuresAnswerFalseAndOnlyARefusedManagerOrAnExceptionIsLogged) {
  EXPECT_FALSE(plugin.CheckWireGuardServices());  // no services: nothing to size
  windows.AddService(u"WireGuardTunnel$tarvex_a", kServiceRunning);
  windows.throw_on["EnumServicesStatusExW"] = 3;  // the fetch
  EXPECT_FALSE(plugin.CheckWireGuardServices());
  windows.after_enumeration = [this] { windows.fail["EnumServicesStatusExW"] = kErrorAccessDenied; };
  EXPECT_FALSE(plugin.CheckWireGuardServices());
  windows.fail["OpenSCManagerW"] = kErrorAccessDenied;
  EXPECT_FALSE(plugin.CheckWireGuardServices());

  EXPECT_THAT(LogLines(),
              ElementsAre("WindowsVpnPlugin::CheckWireGuardServices - Exception: std::bad_alloc",
                          "WindowsVpnPlugin::CheckWireGuardServices - Failed to open service manager"));
  EXPECT_THAT(windows.closed_services, ElementsAre("manager", "manager", "manager"));
}

TEST_F(ServiceEnumerationTest, ATunnelInstalledAfterTheSizingCallIsFetchedFromTheResumePosition) {
  AddStopped(3);
  windows.after_enumeration = [this] {
    windows.after_enumeration = nullptr;
    windows.AddService(u"WireGuardTunnel$tarvex_new", kServiceRunning);
  };

  EXPECT_TRUE(plugin.CheckWireGuardServices());

  EXPECT_EQ(windows.calls["EnumServicesStatusExW"], 3);
  EXPECT_THAT(LogLines(), ElementsAre(std::string(kFound) + "WireGuardTunnel$tarvex_new"));
}

TEST_F(ServiceEnumerationTest, AShortFetchIsScannedBeforeTheRestIsFetched) {
  windows.AddService(u"tarvex_early", kServiceRunning);
  AddStopped(2);
  Grow(-1, 1);

  EXPECT_TRUE(plugin.CheckWireGuardServices());
  EXPECT_EQ(windows.calls["EnumServicesStatusExW"], 2);
}

TEST_F(ServiceEnumerationTest, AListThatGrowsWithoutTunnelsEndsFalseAfterAtMostEightFetches) {
  AddStopped(3);
  Grow(1, 2);
  EXPECT_FALSE(plugin.CheckWireGuardServices());
  EXPECT_EQ(windows.calls["EnumServicesStatusExW"], 3);

  windows.calls.clear();
  Grow(-1, 1);
  EXPECT_FALSE(plugin.CheckWireGuardServices());
  EXPECT_EQ(windows.calls["EnumServicesStatusExW"], 1 + 8);
  EXPECT_THAT(LogLines(), IsEmpty());
}

}  // namespace tarvex
