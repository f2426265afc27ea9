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

// A module path that could not be read, or was cut short, names no folder of
// ours: a "\bin\wireguard.exe" at the drive's root or in some other folder
// must never be taken for the bundled copy.
TEST_F(WireGuardLocatorTest, AnUnreadableOrCutModulePathSkipsBothApplicationFolderCandidates) {
  const std::string fits = "C:\\" + std::string(245, 'a');  // with "\tarvex.exe": 259 bytes
  const std::string cut = "C:\\" + std::string(246, 'a');   // with "\tarvex.exe": 260 bytes
  const std::string program_files = "C:\\Program Files\\WireGuard\\wireguard.exe";
  windows.files[program_files] = "";
  for (const std::string& folder : {std::string(), fits, cut}) {
    windows.files[folder + "\\bin\\wireguard.exe"] = "";
    windows.files[folder + "\\data\\flutter_assets\\assets\\bin\\wireguard.exe"] = "";
  }

  windows.fail["GetModuleFileNameA"] = kErrorAccessDenied;
  EXPECT_EQ(plugin.FindWireGuardExecutable(), program_files);
  windows.fail.clear();
  windows.module_path = cut + "\\tarvex.exe";
  EXPECT_EQ(plugin.FindWireGuardExecutable(), program_files);
  windows.module_path = fits + "\\tarvex.exe";
  EXPECT_EQ(plugin.FindWireGuardExecutable(), fits + "\\bin\\wireguard.exe");

  EXPECT_EQ(LogLines().front(),
            "WindowsVpnPlugin::FindWireGuardExecutable - Found system-installed at: " + program_files);
}

}  // namespace tarvex
