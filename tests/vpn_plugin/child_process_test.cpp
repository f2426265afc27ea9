#include <gtest/gtest.h>

#include <new>

#include "plugin_fixture.h"
#include "vpn_plugin/child_process.h"

namespace tarvex {
namespace {

using ChildProcessTest = PluginTest;

constexpr const char* kWireGuard = "C:\\Apps\\Tarvex\\bin\\wireguard.exe";

TEST_F(ChildProcessTest, RunsTheCommandHiddenAndReadsTheExitCodeAfterTheWait) {
  windows.AddProgram(kWireGuard, {3, 1200});
  const std::string command =
      "\"C:\\Apps\\Tarvex\\bin\\wireguard.exe\" /installtunnelservice \"C:\\Temp\\wg\\a b.conf\"";

  const ChildProcessOutcome outcome = RunHiddenCommand(windows, command, 10000);

  EXPECT_TRUE(outcome.started);
  EXPECT_EQ(outcome.exit_code, 3u);
  ASSERT_EQ(windows.launches.size(), 1u);
  EXPECT_EQ(windows.launches[0].command_line, command);
  EXPECT_EQ(windows.launches[0].creation_flags, 0x08000000u);
  EXPECT_EQ(windows.launches[0].startup_flags, 1u);
  EXPECT_EQ(windows.launches[0].show_window, 0u);
  EXPECT_FALSE(windows.launches[0].inherit_handles);
  EXPECT_EQ(windows.tick, 5000u + 1200u);
}

TEST_F(ChildProcessTest, AProgramThatDoesNotExistIsNotStartedAndKeepsItsErrorCode) {
  const ChildProcessOutcome outcome = RunHiddenCommand(windows, "netsh advfirewall show", 5000);

  EXPECT_FALSE(outcome.started);
  EXPECT_EQ(outcome.error, 2u);
}

TEST_F(ChildProcessTest, AProcessStillRunningAtTheLimitIsLeftRunningWithStillActive) {
  windows.AddProgram("netsh", {0, 60000});

  const ChildProcessOutcome outcome = RunHiddenCommand(windows, "netsh advfirewall show", 5000);

  EXPECT_TRUE(outcome.started);
  EXPECT_EQ(outcome.exit_code, 259u);
  EXPECT_EQ(windows.tick, 5000u + 5000u);
  EXPECT_TRUE(windows.ProcessRunning(0));
}

TEST_F(ChildProcessTest, AnExitCodeThatCannotBeReadNeverReadsAsSuccess) {
  windows.AddProgram("netsh", {0, 0});
  windows.exit_code_unreadable = true;

  const ChildProcessOutcome outcome = RunHiddenCommand(windows, "netsh", 5000);

  EXPECT_TRUE(outcome.started);
  EXPECT_NE(outcome.exit_code, 0u);
}

TEST_F(ChildProcessTest, AnExceptionDuringTheWaitClosesBothHandles) {
  windows.AddProgram("netsh", {0, 0});
  windows.ThrowOn("WaitForSingleObject");

  EXPECT_THROW(RunHiddenCommand(windows, "netsh", 5000), std::bad_alloc);
}

}  // namespace
}  // namespace tarvex
