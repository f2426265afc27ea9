#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "plugin_fixture.h"

namespace tarvex {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class ServiceEnumerationTest : public PluginTest {
 protected:
  void AddStopped(int count) {
    for (int i = 0; i < count; ++i) {
      windows.AddService(u"Service" + std::u16string(1, static_cast<char16_t>(u'A' + added_++)),
                         kServiceStopped);
    }
  }
  int added_ = 0;
};

TEST_F(ServiceEnumerationTest, OnlyRunningWin32ServicesWithATunnelPrefixAtTheStartCount) {
  windows.AddService(u"wireguardtunnel$tarvex_case", kServiceRunning);
  windows.AddService(u"WireGuardTunnel$tarvex_stopped", kServiceStopped);
  windows.AddService(u"MyWireGuardTunnel$x", kServiceRunning);
  windows.AddService(u"tarvex_driver", kServiceRunning, kServiceKernelDriver);
  EXPECT_FALSE(plugin.CheckWireGuardServices());
  EXPECT_THAT(LogLines(), IsEmpty());

  // Another client's tunnel counts; its name is narrowed to the low bytes.
  windows.AddService(u"tarvex_caf\u00e9", kServiceRunning, kServiceWin32ShareProcess);
  EXPECT_TRUE(plugin.CheckWireGuardServices());
  EXPECT_THAT(
      LogLines(),
      ElementsAre(
          "WindowsVpnPlugin::CheckWireGuardServices - Found running WireGuard service: tarvex_caf\xE9"));
  EXPECT_EQ(windows.closed_services.back(), "manager");
}

TEST_F(ServiceEnumerationTest, FailuresAnswerFalseAndOnlyARefusedManagerIsLogged) {
  EXPECT_FALSE(plugin.CheckWireGuardServices());  // no services: nothing to size
  windows.AddService(u"WireGuardTunnel$tarvex_a", kServiceRunning);
  windows.after_enumeration = [this] { windows.enumeration_fails = true; };
  EXPECT_FALSE(plugin.CheckWireGuardServices());
  EXPECT_THAT(LogLines(), IsEmpty());

  windows.manager_refused = true;
  EXPECT_FALSE(plugin.CheckWireGuardServices());
  EXPECT_THAT(LogLines(),
              ElementsAre("WindowsVpnPlugin::CheckWireGuardServices - Failed to open service manager"));
}

TEST_F(ServiceEnumerationTest, ATunnelInstalledAfterTheSizingCallIsFetchedFromTheResumePosition) {
  AddStopped(3);
  windows.after_enumeration = [this] {
    windows.after_enumeration = nullptr;
    windows.AddService(u"WireGuardTunnel$tarvex_new", kServiceRunning);
  };

  EXPECT_TRUE(plugin.CheckWireGuardServices());

  EXPECT_EQ(windows.Calls("EnumServicesStatusExW"), 3);
  EXPECT_THAT(LogLines(),
              ElementsAre("WindowsVpnPlugin::CheckWireGuardServices - Found running WireGuard service: "
                          "WireGuardTunnel$tarvex_new"));
}

TEST_F(ServiceEnumerationTest, AShortFetchIsScannedBeforeTheRestIsFetched) {
  windows.AddService(u"tarvex_early", kServiceRunning);
  AddStopped(2);
  windows.after_enumeration = [this] { AddStopped(1); };

  EXPECT_TRUE(plugin.CheckWireGuardServices());

  EXPECT_EQ(windows.Calls("EnumServicesStatusExW"), 2);
}

TEST_F(ServiceEnumerationTest, AListThatGrowsOnceWithoutTunnelsEndsFalse) {
  AddStopped(3);
  windows.after_enumeration = [this] {
    windows.after_enumeration = nullptr;
    AddStopped(2);
  };

  EXPECT_FALSE(plugin.CheckWireGuardServices());

  EXPECT_EQ(windows.Calls("EnumServicesStatusExW"), 3);
  EXPECT_THAT(LogLines(), IsEmpty());
}

TEST_F(ServiceEnumerationTest, AListThatKeepsGrowingGivesUpAfterEightFetches) {
  AddStopped(2);
  windows.after_enumeration = [this] { AddStopped(1); };

  EXPECT_FALSE(plugin.CheckWireGuardServices());

  EXPECT_EQ(windows.Calls("EnumServicesStatusExW"), 1 + 8);
  EXPECT_THAT(LogLines(), IsEmpty());
}

TEST_F(ServiceEnumerationTest, AnExceptionInTheFetchIsLoggedAndTheManagerClosed) {
  windows.AddService(u"WireGuardTunnel$tarvex_a", kServiceRunning);
  windows.ThrowOn("EnumServicesStatusExW", 2);

  EXPECT_FALSE(plugin.CheckWireGuardServices());

  EXPECT_THAT(LogLines(),
              ElementsAre("WindowsVpnPlugin::CheckWireGuardServices - Exception: std::bad_alloc"));
  EXPECT_THAT(windows.closed_services, ElementsAre("manager"));
}

}  // namespace
}  // namespace tarvex
