#include "plugin_fixture.h"

namespace tarvex {

using WireGuardLocatorTest = PluginTest;

TEST_F(WireGuardLocatorTest, PrefersTheBundledCopyThenAssetsThenTheProgramFilesFolders) {
  const char* const candidates[] = {"C:\\Apps\\Tarvex\\bin\\wireguard.exe",
                                    "C:\\Apps\\Tarvex\\data\\flutter_assets\\assets\\bin\\wireguard.exe",
                                    "C:\\Program Files\\WireGuard\\wireguard.exe",
                                    "C:\\Program Files (x86)\\WireGuard\\wireguard.exe"};
  for (const char* path : candidates) {
    windows.files[path] = "";
  }
  for (const char* path : candidates) {
    EXPECT_EQ(plugin.FindWireGuardExecutable(), path);
    windows.files.erase(path);
  }
  EXPECT_EQ(plugin.FindWireGuardExecutable(), "");

  EXPECT_THAT(
      LogLines(),
      ElementsAre(
          "WindowsVpnPlugin::FindWireGuardExecutable - Found bundled at: "
          "C:\\Apps\\Tarvex\\bin\\wireguard.exe",
          "WindowsVpnPlugin::FindWireGuardExecutable - Found in assets at: "
          "C:\\Apps\\Tarvex\\data\\flutter_assets\\assets\\bin\\wireguard.exe",
          "WindowsVpnPlugin::FindWireGuardExecutable - Found system-installed at: "
          "C:\\Program Files\\WireGuard\\wireguard.exe",
          "WindowsVpnPlugin::FindWireGuardExecutable - Found system-installed at: "
          "C:\\Program Files (x86)\\WireGuard\\wireguard.exe",
          "WindowsVpnPlugin::FindWireGuardExecutable - WireGuard executable not found in bundle or system"));
}

TEST_F(WireGuardLocatorTest, AFolderNamedLikeTheProgramCountsAndPathsStayAsBuilt) {
  windows.module_path = "D:\\My Apps\\tarvex.exe";
  windows.folders.insert("D:\\My Apps\\bin\\wireguard.exe");
  EXPECT_EQ(plugin.FindWireGuardExecutable(), "D:\\My Apps\\bin\\wireguard.exe");

  windows.module_path = "tarvex.exe";  // no backslash: the path is the folder
  windows.files["tarvex.exe\\bin\\wireguard.exe"] = "";
  EXPECT_EQ(plugin.FindWireGuardExecutable(), "tarvex.exe\\bin\\wireguard.exe");
}

}  // namespace tarvex
