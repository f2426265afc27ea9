#include <cstdio>
#include <fstream>
#include <sstream>

#include "plugin_fixture.h"

namespace tarvex {

using DebugLogTest = PluginTest;

TEST_F(DebugLogTest, CreatesTheFolderThenAppendsLinesInLocalTimeWithTextModeLineEnds) {
  plugin.Log("first");
  plugin.Log("");
  windows.local_offset_seconds = -4 * 3600;
  plugin.Log("two\nlines");

  EXPECT_EQ(
      windows.files.at(kLogPath),
      "[2026-12-06 03:05:17] first\r\n[2026-12-06 03:05:17] \r\n[2026-12-05 23:05:17] two\r\nlines\r\n");
  EXPECT_EQ(windows.calls["FileFlush"], 3);
}

// The separator is added, not merged: Windows reads the doubled backslash as one.
TEST_F(DebugLogTest, AnAppDataEndingInABackslashGivesADoubledSeparator) {
  windows.env["APPDATA"] = std::string(SimulatedWindows::kAppData) + "\\";
  plugin.Log("kept");

  const auto log = windows.files.find(kLogPath);
  ASSERT_NE(log, windows.files.end());
  EXPECT_EQ(log->first, "C:\\Users\\ana\\AppData\\Roaming\\\\Tarvex\\windows_vpn_debug.log");
  EXPECT_EQ(log->second, "[2026-12-06 03:05:17] kept\r\n");
}

TEST_F(DebugLogTest, WritesNothingWithoutAppData) {
  windows.env.erase("appdata");
  plugin.Log("lost");
  windows.env["APPDATA"] = SimulatedWindows::kAppData;
  windows.fail["DupEnv"] = 22;  // EINVAL
  plugin.Log("lost");

  EXPECT_EQ(windows.calls["CreateDirectoryA"], 0);
  EXPECT_EQ(windows.calls["FileOpen"], 0);
  EXPECT_THAT(windows.debug_output, IsEmpty());
}

TEST_F(DebugLogTest, DropsTheLineQuietlyWhenTheFileCannotBeOpenedOrTheTimeIsUnknown) {
  windows.folders.insert(kLogPath);  // a folder named like the log
  plugin.Log("lost");
  windows.env["APPDATA"] = "C:\\Missing";  // the folder cannot be made
  plugin.Log("lost");
  windows.env["APPDATA"] = SimulatedWindows::kAppData;
  windows.folders.erase(kLogPath);
  windows.fail["LocalTime64"] = 22;
  plugin.Log("lost");

  EXPECT_EQ(windows.calls["FileOpen"], 3);
  EXPECT_EQ(windows.files.at(kLogPath), "");
  EXPECT_THAT(windows.debug_output, IsEmpty());
}

TEST_F(DebugLogTest, ReportsAnExceptionToTheDebuggerAndDropsTheLine) {
  windows.throw_on["FileWrite"] = 1;
  plugin.Log("lost");
  plugin.Log("kept");

  EXPECT_THAT(windows.debug_output, ElementsAre("WindowsVpnPlugin log error: std::bad_alloc"));
  EXPECT_EQ(windows.files.at(kLogPath), "[2026-12-06 03:05:17] kept\r\n");
}

// The simulated machine can keep the log in a real file (the benchmarks time
// the log on a disk that way): the bytes land there, after what the file held,
// and not in memory; a real folder that is missing drops the line as a
// missing simulated one does.
TEST_F(DebugLogTest, ALogMappedToARealFileIsAppendedOnDisk) {
  const std::string real = ::testing::TempDir() + "tarvex_debug_log_test.log";
  std::ofstream(real, std::ios::binary) << "earlier\r\n";
  windows.disk_files[kLogPath] = real;
  plugin.Log("first");
  plugin.Log("two\nlines");
  std::ostringstream on_disk;
  on_disk << std::ifstream(real, std::ios::binary).rdbuf();
  std::remove(real.c_str());

  EXPECT_EQ(on_disk.str(),
            "earlier\r\n[2026-12-06 03:05:17] first\r\n[2026-12-06 03:05:17] two\r\nlines\r\n");
  EXPECT_EQ(windows.files.count(kLogPath), 0u);
  EXPECT_EQ(windows.calls["FileFlush"], 2);

  windows.disk_files[kLogPath] = ::testing::TempDir() + "tarvex_missing_folder/windows_vpn_debug.log";
  plugin.Log("lost");
  EXPECT_EQ(windows.calls["FileOpen"], 3);
  EXPECT_EQ(windows.calls["FileWrite"], 2);
}

}  // namespace tarvex
