#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "plugin_fixture.h"

namespace tarvex {
namespace {

using ::testing::ElementsAre;
using WireGuardLocatorTest = PluginTest;

constexpr const char* kBundled = "C:\\Apps\\Tarvex\\bin\\wireguard.exe";
constexpr const char* kInAssets = "C:\\Apps\\Tarvex\\data\\flutter_assets\\assets\\bin\\wireguard.exe";
constexpr const char* kProgramFiles = "C:\\Program Files\\WireGuard\\wireguard.exe";
constexpr const char* kProgramFilesX86 = "C:\\Program Files (x86)\\WireGuard\\wireguard.exe";

TEST_F(WireGuardLocatorTest, PrefersTheBundledCopyThenAssetsThenTheProgramFilesFolders) {
  for (const char* path : {kBundled, kInAssets, kProgramFiles, kProgramFilesX86}) {
    windows.AddFile(path);
  }
  EXPECT_EQ(plugin.FindWireGuardExecutable(), kBundled);
  windows.DeleteFileA(kBundled);
  EXPECT_EQ(plugin.FindWireGuardExecutable(), kInAssets);
  windows.DeleteFileA(kInAssets);
  EXPECT_EQ(plugin.FindWireGuardExecutable(), kProgramFiles);
  windows.DeleteFileA(kProgramFiles);
  EXPECT_EQ(plugin.FindWireGuardExecutable(), kProgramFilesX86);
  windows.DeleteFileA(kProgramFilesX86);
  EXPECT_EQ(plugin.FindWireGuardExecutable(), "");

  EXPECT_THAT(
      LogLines(),
      ElementsAre("WindowsVpnPlugin::FindWireGuardExecutable - Found bundled at: C:\\Apps\\Tarvex\\bin\\"
                  "wireguard.exe",
                  "WindowsVpnPlugin::FindWireGuardExecutable - Found in assets at: C:\\Apps\\Tarvex\\data\\"
                  "flutter_assets\\assets\\bin\\wireguard.exe",
                  "WindowsVpnPlugin::FindWireGuardExecutable - Found system-installed at: C:\\Program Files\\"
                  "WireGuard\\wireguard.exe",
                  "WindowsVpnPlugin::FindWireGuardExecutable - Found system-installed at: C:\\Program Files "
                  "(x86)\\WireGuard\\wireguard.exe",
                  "WindowsVpnPlugin::FindWireGuardExecutable - WireGuard executable not found in bundle or "
                  "system"));
}

TEST_F(WireGuardLocatorTest, AFolderNamedLikeTheProgramCountsAndPathsStayUnquoted) {
  windows.module_path = "D:\\My Apps\\tarvex.exe";
  windows.AddDirectory("D:\\My Apps\\bin\\wireguard.exe");

  EXPECT_EQ(plugin.FindWireGuardExecutable(), "D:\\My Apps\\bin\\wireguard.exe");
}

TEST_F(WireGuardLocatorTest, AnExecutablePathWithoutABackslashIsTheFolderItself) {
  windows.module_path = "tarvex.exe";
  windows.AddFile("tarvex.exe\\bin\\wireguard.exe");

  EXPECT_EQ(plugin.FindWireGuardExecutable(), "tarvex.exe\\bin\\wireguard.exe");
}

}  // namespace
}  // namespace tarvex
