#include "plugin_fixture.h"

namespace tarvex {

using ElevationTest = PluginTest;

constexpr const char* kWireGuard = "C:\\Program Files\\WireGuard\\wireguard.exe";
constexpr const char* kParameters = "/installtunnelservice \"C:\\Temp\\wg\\tarvex_office.conf\"";
constexpr const char* kCommandLine =
    "WindowsVpnPlugin::RunElevatedCommand - Command: C:\\Program Files\\WireGuard\\wireguard.exe Params: "
    "/installtunnelservice \"C:\\Temp\\wg\\tarvex_office.conf\"";

TEST_F(ElevationTest, AcceptedElevationWaitsAtMostThirtySecondsAndSucceedsWhateverTheExitCode) {
  windows.programs[kWireGuard] = {1, 45000};

  EXPECT_TRUE(plugin.RunElevatedCommand(kWireGuard, kParameters));

  ASSERT_EQ(windows.message_boxes.size(), 1u);
  EXPECT_EQ(windows.message_boxes[0].text,
            u"Tarvex precisa instalar o driver de rede do WireGuard.\n\nIsso requer privil\u00e9gios de "
            u"administrador apenas uma vez para:\n\u2022 Instalar o driver de rede necess\u00e1rio\n\u2022 "
            u"Configurar o servi\u00e7o VPN\n\nAp\u00f3s esta instala\u00e7\u00e3o inicial, o app "
            u"funcionar\u00e1 normalmente sem pedir admin novamente.");
  EXPECT_EQ(windows.message_boxes[0].caption, u"Instala\u00e7\u00e3o do Driver WireGuard");
  EXPECT_EQ(windows.message_boxes[0].type, 0x40u);
  EXPECT_THAT(windows.elevations, ElementsAre(std::string(kWireGuard) + " " + kParameters));
  EXPECT_EQ(windows.tick, 5000u + 30000u);
  EXPECT_THAT(LogLines(),
              ElementsAre(kCommandLine, "WindowsVpnPlugin::RunElevatedCommand - Elevated command completed"));
}

TEST_F(ElevationTest, AStartedProgramWithoutAProcessHandleIsASuccessWithoutAWait) {
  windows.programs[kWireGuard] = {0, 45000};
  windows.shell_hands_process = false;

  EXPECT_TRUE(plugin.RunElevatedCommand(kWireGuard, kParameters));

  EXPECT_EQ(windows.tick, 5000u);
  EXPECT_EQ(windows.calls["WaitForSingleObject"], 0);
  EXPECT_EQ(LogLines().back(), "WindowsVpnPlugin::RunElevatedCommand - Elevated command completed");
}

TEST_F(ElevationTest, RefusedElevationExplainsItselfInASecondBox) {
  windows.fail["ShellExecuteExA"] = kErrorCancelled;

  EXPECT_FALSE(plugin.RunElevatedCommand(kWireGuard, kParameters));

  ASSERT_EQ(windows.message_boxes.size(), 2u);
  EXPECT_EQ(windows.message_boxes[1].text,
            u"A instala\u00e7\u00e3o foi cancelada pelo usu\u00e1rio.\n\nPara usar a VPN, ser\u00e1 "
            u"necess\u00e1rio aceitar a eleva\u00e7\u00e3o quando solicitado.");
  EXPECT_EQ(windows.message_boxes[1].caption, u"Instala\u00e7\u00e3o Cancelada");
  EXPECT_EQ(windows.message_boxes[1].type, 0x30u);
  EXPECT_THAT(LogLines(),
              ElementsAre(kCommandLine,
                          "WindowsVpnPlugin::RunElevatedCommand - ShellExecuteEx failed: The operation "
                          "was canceled by the user.\r\n",
                          "WindowsVpnPlugin::RunElevatedCommand - User cancelled elevation"));
}

TEST_F(ElevationTest, AnotherFailureIsLoggedWithItsOwnTextAndNoSecondBox) {
  EXPECT_FALSE(plugin.RunElevatedCommand(kWireGuard, kParameters));

  EXPECT_EQ(windows.message_boxes.size(), 1u);
  EXPECT_THAT(LogLines(),
              ElementsAre(kCommandLine,
                          "WindowsVpnPlugin::RunElevatedCommand - ShellExecuteEx failed: The system "
                          "cannot find the file specified.\r\n"));
}

TEST_F(ElevationTest, AnExceptionIsLoggedAnswersFalseAndClosesTheElevatedProcess) {
  windows.programs[kWireGuard] = {0, 1000};
  for (const char* operation : {"MessageBoxW", "WaitForSingleObject"}) {
    windows.throw_on[operation] = 1;
    EXPECT_FALSE(plugin.RunElevatedCommand(kWireGuard, kParameters));
  }
  const std::string exception = "WindowsVpnPlugin::RunElevatedCommand - Exception: std::bad_alloc";
  EXPECT_THAT(LogLines(), ElementsAre(kCommandLine, exception, kCommandLine, exception));
  EXPECT_EQ(windows.elevations.size(), 1u);
}

TEST_F(ElevationTest, IsRunningAsAdmin_AsksForTheEnabledAdministratorsGroupOnly) {
  EXPECT_TRUE(plugin.IsRunningAsAdmin());
  windows.is_admin = false;
  EXPECT_FALSE(plugin.IsRunningAsAdmin());
  windows.is_admin = true;
  windows.fail["CheckTokenMembership"] = kErrorAccessDenied;
  EXPECT_FALSE(plugin.IsRunningAsAdmin());
  windows.fail["AllocateAndInitializeSid"] = kErrorAccessDenied;
  EXPECT_FALSE(plugin.IsRunningAsAdmin());
  EXPECT_EQ(windows.calls["CheckTokenMembership"], 3);

  windows.fail.clear();
  windows.throw_on["CheckTokenMembership"] = 4;
  EXPECT_THROW(plugin.IsRunningAsAdmin(), std::bad_alloc);
}

TEST_F(ElevationTest, GetErrorMessage_KeepsTheSystemTextAndItsLineEndAsUtf8) {
  windows.system_messages[2] = u"O sistema n\u00e3o pode encontrar o arquivo especificado.\r\n";

  EXPECT_EQ(plugin.GetErrorMessage(2), "O sistema n\xC3\xA3o pode encontrar o arquivo especificado.\r\n");
  EXPECT_EQ(plugin.GetErrorMessage(0xE0001234), "");
}

}  // namespace tarvex
