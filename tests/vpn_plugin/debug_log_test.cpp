#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "plugin_fixture.h"

namespace tarvex {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using DebugLogTest = PluginTest;

TEST_F(DebugLogTest, CreatesTheFolderThenAppendsTimestampedLinesWithTextModeLineEnds) {
  ASSERT_FALSE(windows.DirectoryExists("C:\\Users\\ana\\AppData\\Roaming\\Tarvex"));

  plugin.Log("first");
  plugin.Log("");
  plugin.Log("two\nlines");

  EXPECT_TRUE(windows.DirectoryExists("C:\\Users\\ana\\AppData\\Roaming\\Tarvex"));
  EXPECT_EQ(windows.FileContents(kLogPath),
            "[2026-12-06 03:05:17] first\r\n"
            "[2026-12-06 03:05:17] \r\n"
            "[2026-12-06 03:05:17] two\r\nlines\r\n");
  EXPECT_EQ(windows.Calls("FileFlush"), 3);
}

TEST_F(DebugLogTest, AppendsToAnEarlierLogInLocalTime) {
  windows.AddFile(kLogPath, "earlier\r\n");
  windows.local_offset_seconds = -4 * 3600;

  plugin.Log("next");

  EXPECT_EQ(windows.FileContents(kLogPath), "earlier\r\n[2026-12-05 23:05:17] next\r\n");
}

TEST_F(DebugLogTest, WritesNothingWithoutAppData) {
  windows.UnsetEnv("APPDATA");
  plugin.Log("lost");
  windows.SetEnv("APPDATA", "C:\\Users\\ana\\AppData\\Roaming");
  windows.env_read_fails = true;
  plugin.Log("lost");

  EXPECT_FALSE(windows.DirectoryExists("C:\\Users\\ana\\AppData\\Roaming\\Tarvex"));
  EXPECT_EQ(windows.Calls("CreateDirectoryA"), 0);
  EXPECT_THAT(windows.debug_output, IsEmpty());
}

TEST_F(DebugLogTest, DropsTheLineQuietlyWhenTheFileCannotBeOpened) {
  windows.AddDirectory(kLogPath);  // a folder named like the log
  plugin.Log("lost");
  windows.SetEnv("APPDATA", "C:\\Missing");  // the folder cannot be made
  plugin.Log("lost");

  EXPECT_TRUE(windows.DirectoryExists(kLogPath));
  EXPECT_EQ(windows.Calls("FileOpen"), 2);
  EXPECT_EQ(windows.Calls("FileWrite"), 0);
  EXPECT_THAT(windows.debug_output, IsEmpty());
}

TEST_F(DebugLogTest, ReportsAnExceptionToTheDebuggerAndDropsTheLine) {
  windows.ThrowOn("FileWrite");
  plugin.Log("lost");
  plugin.Log("kept");

  EXPECT_THAT(windows.debug_output, ElementsAre("WindowsVpnPlugin log error: std::bad_alloc"));
  EXPECT_EQ(windows.FileContents(kLogPath), "[2026-12-06 03:05:17] kept\r\n");
}

TEST_F(DebugLogTest, DropsTheLineWhenTheLocalTimeIsUnknown) {
  windows.local_time_fails = true;
  plugin.Log("lost");

  EXPECT_EQ(windows.FileContents(kLogPath), "");
}

}  // namespace
}  // namespace tarvex
