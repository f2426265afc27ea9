#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "plugin_fixture.h"

namespace tarvex {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using DispatchTest = PluginTest;
using ConnectionTest = PluginTest;
using Call = flutter::MethodCall<flutter::EncodableValue>;

std::vector<Reply> Send(WindowsVpnPlugin& plugin, const std::string& method,
                        std::unique_ptr<flutter::EncodableValue> arguments, bool fail_success = false) {
  std::vector<Reply> replies;
  plugin.HandleMethodCall(Call(method, std::move(arguments)),
                          std::make_unique<RecordingResult>(&replies, fail_success));
  return replies;
}

TEST_F(DispatchTest, IsConnected_AnswersTheServiceStateAndLogsTheWholeRoad) {
  windows.AddService(u"WireGuardTunnel$tarvex_office", kServiceRunning);

  const std::vector<Reply> replies = Send(plugin, "isConnected", nullptr);

  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].kind, "success");
  EXPECT_EQ(replies[0].value, flutter::EncodableValue(true));
  EXPECT_THAT(LogLines(),
              ElementsAre("WindowsVpnPlugin::HandleMethodCall called: isConnected",
                          "WindowsVpnPlugin::IsConnected called",
                          "WindowsVpnPlugin::CheckWindowsVPNConnection called",
                          "WindowsVpnPlugin::CheckWireGuardServices - Found running WireGuard service: "
                          "WireGuardTunnel$tarvex_office",
                          "WindowsVpnPlugin::CheckWindowsVPNConnection - WireGuard service found",
                          "WindowsVpnPlugin::IsConnected - Connection status: true"));
}

TEST_F(DispatchTest, IsConnected_IgnoresItsArgumentsAndAnswersFalseWithoutTunnels) {
  windows.AddService(u"WireGuardTunnel$tarvex_office", kServiceStopped);
  const flutter::EncodableValue kArguments[] = {flutter::EncodableValue(), flutter::EncodableList{1, "x"},
                                                flutter::EncodableMap{{"networkId", "office"}}};
  for (const flutter::EncodableValue& arguments : kArguments) {
    const std::vector<Reply> replies =
        Send(plugin, "isConnected", std::make_unique<flutter::EncodableValue>(arguments));
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].kind, "success");
    EXPECT_EQ(replies[0].value, flutter::EncodableValue(false));
  }
  const std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 15u);
  EXPECT_EQ(lines[3], "WindowsVpnPlugin::CheckWindowsVPNConnection - No WireGuard connections found");
  EXPECT_EQ(lines[4], "WindowsVpnPlugin::IsConnected - Connection status: false");
}

TEST_F(DispatchTest, NamesWithoutAnOperationAreNotImplemented) {
  for (const char* name :
       {"IsConnected", "isconnected", "isConnecte", "isConnected ", "startTunnel", "stopTunnel", ""}) {
    const std::vector<Reply> replies = Send(plugin, name, nullptr);
    ASSERT_EQ(replies.size(), 1u) << name;
    EXPECT_EQ(replies[0].kind, "not implemented") << name;
  }
  EXPECT_THAT(LogLines(), ElementsAre("WindowsVpnPlugin::HandleMethodCall called: IsConnected",
                                      "WindowsVpnPlugin::HandleMethodCall called: isconnected",
                                      "WindowsVpnPlugin::HandleMethodCall called: isConnecte",
                                      "WindowsVpnPlugin::HandleMethodCall called: isConnected ",
                                      "WindowsVpnPlugin::HandleMethodCall called: startTunnel",
                                      "WindowsVpnPlugin::HandleMethodCall called: stopTunnel",
                                      "WindowsVpnPlugin::HandleMethodCall called: "));
}

TEST_F(DispatchTest, IsConnected_AReplyThatThrowsBecomesTheCheckConnectionError) {
  const std::vector<Reply> replies = Send(plugin, "isConnected", nullptr, /*fail_success=*/true);

  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].kind, "error");
  EXPECT_EQ(replies[0].code, "CHECK_CONNECTION_ERROR");
  EXPECT_EQ(replies[0].message, "Failed to check connection: reply failed");
  EXPECT_TRUE(replies[0].value.IsNull());
  EXPECT_EQ(LogLines().back(), "WindowsVpnPlugin::IsConnected - Exception: reply failed");
}

TEST_F(ConnectionTest, RegisteredIdsAreQueriedInByteOrderUntilOneRuns) {
  for (const char* id : {"b", "a", "ab", "c"}) {
    WindowsVpnPluginTestPeer::Register(plugin, id);
  }
  windows.AddService(u"WireGuardTunnel$tarvex_ab", kServiceStopped);
  windows.AddService(u"WireGuardTunnel$tarvex_b", kServiceRunning);
  windows.AddService(u"WireGuardTunnel$tarvex_c", kServiceRunning);

  EXPECT_TRUE(plugin.CheckWindowsVPNConnection());

  EXPECT_THAT(
      LogLines(),
      ElementsAre("WindowsVpnPlugin::CheckWindowsVPNConnection called",
                  "WindowsVpnPlugin::IsVPNConnected - Service WireGuardTunnel$tarvex_a not found",
                  "WindowsVpnPlugin::IsVPNConnected - Service WireGuardTunnel$tarvex_ab status: NOT RUNNING",
                  "WindowsVpnPlugin::IsVPNConnected - Service WireGuardTunnel$tarvex_b status: RUNNING",
                  "WindowsVpnPlugin::CheckWindowsVPNConnection - WireGuard VPN connected: b"));
  EXPECT_EQ(windows.Calls("EnumServicesStatusExW"), 0);
}

TEST_F(ConnectionTest, IsVPNConnected_ReportsEachFailureAndClosesTheServiceBeforeTheManager) {
  windows.AddService(u"WireGuardTunnel$tarvex_locked", kServiceRunning).open_denied = true;
  windows.AddService(u"WireGuardTunnel$tarvex_mute", kServiceRunning).query_fails = true;

  EXPECT_FALSE(plugin.IsVPNConnected("missing"));
  EXPECT_FALSE(plugin.IsVPNConnected("locked"));
  EXPECT_FALSE(plugin.IsVPNConnected("mute"));
  windows.manager_refused = true;
  EXPECT_FALSE(plugin.IsVPNConnected("mute"));

  EXPECT_THAT(
      LogLines(),
      ElementsAre("WindowsVpnPlugin::IsVPNConnected - Service WireGuardTunnel$tarvex_missing not found",
                  "WindowsVpnPlugin::IsVPNConnected - Service WireGuardTunnel$tarvex_locked not found",
                  "WindowsVpnPlugin::IsVPNConnected - Failed to query service status",
                  "WindowsVpnPlugin::IsVPNConnected - Failed to open service manager"));
  EXPECT_THAT(windows.closed_services,
              ElementsAre("manager", "manager", "WireGuardTunnel$tarvex_mute", "manager"));
}

TEST_F(ConnectionTest, IsVPNConnected_WidensEachByteBySignExtension) {
  windows.AddService(u"WireGuardTunnel$tarvex_\xFF80\xFFFF", kServiceRunning);
  windows.AddService(u"WireGuardTunnel$tarvex_caf\u00e9", kServiceRunning);

  EXPECT_TRUE(plugin.IsVPNConnected("\x80\xFF"));
  // No UTF-8 decoding: the two bytes of "é" become two code units.
  EXPECT_FALSE(plugin.IsVPNConnected("caf\xC3\xA9"));
}

TEST_F(ConnectionTest, AnExceptionInsideOneQueryEndsThatQueryOnlyAndClosesItsManager) {
  windows.AddService(u"WireGuardTunnel$tarvex_a", kServiceRunning);
  windows.AddService(u"WireGuardTunnel$tarvex_b", kServiceRunning);
  WindowsVpnPluginTestPeer::Register(plugin, "a");
  WindowsVpnPluginTestPeer::Register(plugin, "b");
  windows.ThrowOn("OpenServiceW");

  EXPECT_TRUE(plugin.CheckWindowsVPNConnection());

  EXPECT_THAT(
      LogLines(),
      ElementsAre("WindowsVpnPlugin::CheckWindowsVPNConnection called",
                  "WindowsVpnPlugin::IsVPNConnected - Exception: std::bad_alloc",
                  "WindowsVpnPlugin::IsVPNConnected - Service WireGuardTunnel$tarvex_b status: RUNNING",
                  "WindowsVpnPlugin::CheckWindowsVPNConnection - WireGuard VPN connected: b"));
}

}  // namespace
}  // namespace tarvex
