#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <new>

#include "plugin_fixture.h"

namespace tarvex {
namespace {

using ::testing::ElementsAre;
using ElevationTest = PluginTest;

constexpr const char* kWireGuard = "C:\\Program Files\\WireGuard\\wireguard.exe";
constexpr const char* kParameters = "/installtunnelservice \"C:\\Temp\\wg\\tarvex_office.conf\"";

const std::u16string kNoticeText =
    u"Tarvex precisa instalar o driver de rede do WireGuard.\n\nIsso requer privil\u00e9gios de "
    u"administrador "
    u"apenas uma vez para:\n\u2022 Instalar o driver de rede necess\u00e1rio\n\u2022 Configurar o "
    u"servi\u00e7o "
    u"VPN\n\nAp\u00f3s esta instala\u00e7\u00e3o inicial, o app funcionar\u00e1 normalmente sem pedir admin "
    u"novamente.";
const std::u16string kNoticeCaption = u"Instala\u00e7\u00e3o do Driver WireGuard";
const std::u16string kCancelledText =
    u"A instala\u00e7\u00e3o foi cancelada pelo usu\u00e1rio.\n\nPara usar a VPN, ser\u00e1 necess\u00e1rio "
    u"aceitar a eleva\u00e7\u00e3o quando solicitado.";

TEST_F(ElevationTest, AcceptedElevationWaitsAtMostThirtySecondsAndSucceedsWhateverTheExitCode) {
  windows.AddProgram(kWireGuard, {1, 45000});

  EXPECT_TRUE(plugin.RunElevatedCommand(kWireGuard, kParameters));

  ASSERT_EQ(windows.message_boxes.size(), 1u);
  EXPECT_EQ(windows.message_boxes[0].text, kNoticeText);
  EXPECT_EQ(windows.message_boxes[0].caption, kNoticeCaption);
  EXPECT_EQ(windows.message_boxes[0].type, 0x40u);
  ASSERT_EQ(windows.shell_requests.size(), 1u);
  EXPECT_EQ(windows.shell_requests[0].verb, "runas");
  EXPECT_EQ(windows.shell_requests[0].file, kWireGuard);
  EXPECT_EQ(windows.shell_requests[0].parameters, kParameters);
  EXPECT_EQ(windows.shell_requests[0].mask, 0x40u);
  EXPECT_EQ(windows.shell_requests[0].show, 0);
  EXPECT_EQ(windows.tick, 5000u + 30000u);
  EXPECT_TRUE(windows.ProcessRunning(0));
  EXPECT_THAT(LogLines(),
              ElementsAre("WindowsVpnPlugin::RunElevatedCommand - Command: C:\\Program Files\\WireGuard\\"
                          "wireguard.exe Params: /installtunnelservice \"C:\\Temp\\wg\\tarvex_office.conf\"",
                          "WindowsVpnPlugin::RunElevatedCommand - Elevated command completed"));
}

TEST_F(ElevationTest, RefusedElevationExplainsItselfInASecondBox) {
  windows.elevation_refused = true;

  EXPECT_FALSE(plugin.RunElevatedCommand(kWireGuard, kParameters));

  ASSERT_EQ(windows.message_boxes.size(), 2u);
  EXPECT_EQ(windows.message_boxes[0].text, kNoticeText);
  EXPECT_EQ(windows.message_boxes[1].text, kCancelledText);
  EXPECT_EQ(windows.message_boxes[1].caption, u"Instala\u00e7\u00e3o Cancelada");
  EXPECT_EQ(windows.message_boxes[1].type, 0x30u);
  // The system text brings its own CR LF; text mode stores each LF as CR LF.
  EXPECT_EQ(
      windows.FileContents(kLogPath),
      "[2026-12-06 03:05:17] WindowsVpnPlugin::RunElevatedCommand - Command: C:\\Program Files\\WireGuard\\"
      "wireguard.exe Params: /installtunnelservice \"C:\\Temp\\wg\\tarvex_office.conf\"\r\n"
      "[2026-12-06 03:05:17] WindowsVpnPlugin::RunElevatedCommand - ShellExecuteEx failed: The operation was "
      "canceled by the user.\r\r\n\r\n"
      "[2026-12-06 03:05:17] WindowsVpnPlugin::RunElevatedCommand - User cancelled elevation\r\n");
}

TEST_F(ElevationTest, AnotherFailureIsLoggedWithItsOwnTextAndNoSecondBox) {
  EXPECT_FALSE(plugin.RunElevatedCommand("C:\\nowhere\\wireguard.exe", kParameters));

  EXPECT_EQ(windows.message_boxes.size(), 1u);
  EXPECT_EQ(
      windows.FileContents(kLogPath),
      "[2026-12-06 03:05:17] WindowsVpnPlugin::RunElevatedCommand - Command: C:\\nowhere\\wireguard.exe "
      "Params: /installtunnelservice \"C:\\Temp\\wg\\tarvex_office.conf\"\r\n"
      "[2026-12-06 03:05:17] WindowsVpnPlugin::RunElevatedCommand - ShellExecuteEx failed: The system cannot "
      "find the file specified.\r\r\n\r\n");
}

TEST_F(ElevationTest, AnExceptionAfterTheOpeningLineIsLoggedAndAnswersFalse) {
  windows.ThrowOn("MessageBoxW");

  EXPECT_FALSE(plugin.RunElevatedCommand(kWireGuard, kParameters));

  EXPECT_TRUE(windows.shell_requests.empty());
  EXPECT_EQ(LogLines().back(), "WindowsVpnPlugin::RunElevatedCommand - Exception: std::bad_alloc");
}

TEST_F(ElevationTest, AnExceptionWhileWaitingClosesTheElevatedProcessHandle) {
  windows.AddProgram(kWireGuard, {0, 1000});
  windows.ThrowOn("WaitForSingleObject");

  EXPECT_FALSE(plugin.RunElevatedCommand(kWireGuard, kParameters));
}

TEST_F(ElevationTest, IsRunningAsAdmin_AsksForTheEnabledAdministratorsGroupOnly) {
  EXPECT_TRUE(plugin.IsRunningAsAdmin());
  windows.is_admin = false;
  EXPECT_FALSE(plugin.IsRunningAsAdmin());
  windows.is_admin = true;
  windows.membership_check_fails = true;
  EXPECT_FALSE(plugin.IsRunningAsAdmin());
  windows.sid_allocation_fails = true;
  EXPECT_FALSE(plugin.IsRunningAsAdmin());
  EXPECT_EQ(windows.Calls("CheckTokenMembership"), 3);
}

TEST_F(ElevationTest, IsRunningAsAdmin_FreesTheGroupWhenAnExceptionPasses) {
  windows.ThrowOn("CheckTokenMembership");
  EXPECT_THROW(plugin.IsRunningAsAdmin(), std::bad_alloc);
}

TEST_F(ElevationTest, GetErrorMessage_KeepsTheSystemTextAndItsLineEndAsUtf8) {
  windows.system_messages[2] = u"O sistema n\u00e3o pode encontrar o arquivo especificado.\r\n";

  EXPECT_EQ(plugin.GetErrorMessage(2), "O sistema n\xC3\xA3o pode encontrar o arquivo especificado.\r\n");
  EXPECT_EQ(plugin.GetErrorMessage(0xE0001234), "");
}

}  // namespace
}  // namespace tarvex
