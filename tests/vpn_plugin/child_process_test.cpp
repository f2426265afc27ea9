#include "vpn_plugin/child_process.h"
#include "plugin_fixture.h"

namespace tarvex {

using ChildProcessTest = PluginTest;

TEST_F(ChildProcessTest, RunsTheCommandAndReadsTheExitCodeAfterTheWait) {
  windows.programs["C:\\Apps\\Tarvex\\bin\\wireguard.exe"] = {3, 1200};
  const std::string command =
      "\"C:\\Apps\\Tarvex\\bin\\wireguard.exe\" /installtunnelservice \"C:\\Temp\\wg\\a b.conf\"";

  const ChildProcessOutcome outcome = RunHiddenCommand(windows, command, 10000);

  EXPECT_TRUE(outcome.started);
  EXPECT_EQ(outcome.exit_code, 3u);
  EXPECT_THAT(windows.launches, ElementsAre(command));
  EXPECT_EQ(windows.tick, 5000u + 1200u);
  EXPECT_THAT(windows.closed_handles, ElementsAre("process", "thread"));
}

TEST_F(ChildProcessTest, ReportsAMissingProgramAProcessOutlivingTheWaitAndAnUnreadableExitCode) {
  const ChildProcessOutcome missing = RunHiddenCommand(windows, "netsh advfirewall show", 5000);
  EXPECT_FALSE(missing.started);
  EXPECT_EQ(missing.error, 2u);
  // A program that never ran must not read as one that succeeded.
  EXPECT_EQ(missing.exit_code, 0xFFFFFFFFu);

  windows.programs["netsh"] = {0, 60000};
  EXPECT_EQ(RunHiddenCommand(windows, "netsh advfirewall show", 5000).exit_code, 259u);
  EXPECT_EQ(windows.tick, 5000u + 5000u);

  windows.programs["netsh"] = {0, 0};
  windows.fail["GetExitCodeProcess"] = kErrorAccessDenied;
  EXPECT_EQ(RunHiddenCommand(windows, "netsh", 5000).exit_code, 0xFFFFFFFFu);
}

TEST_F(ChildProcessTest, AnExceptionDuringTheWaitClosesBothHandles) {
  windows.programs["netsh"] = {0, 0};
  windows.throw_on["WaitForSingleObject"] = 1;
  EXPECT_THROW(RunHiddenCommand(windows, "netsh", 5000), std::bad_alloc);
}

}  // namespace tarvex
