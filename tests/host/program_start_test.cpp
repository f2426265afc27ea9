// tarvex.exe from start to exit: the first frame, the plugins, the channel of
// the in-process plugin, one copy at a time, refusals, the command line.

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "tests/host/host_program_fixture.h"

namespace tarvex_test {
namespace {

using testing::AnyOf;
using testing::Contains;
using testing::ElementsAre;
using testing::ElementsAreArray;
using testing::HasSubstr;
using testing::IsEmpty;
using testing::Not;
using testing::StartsWith;

// Each registration, on the main thread, in the single-threaded apartment
// the program set up for it.
std::vector<std::string> AllPluginsRegisteredWithTheirOwnRegistrars() {
  std::vector<std::string> lines;
  for (const PluginLibrary& plugin : kPluginLibraries) {
    lines.push_back(std::string(plugin.registrar_name) + " " + plugin.registrar_name + " mainsta");
  }
  return lines;
}

TEST_F(HostProgramTest,
       StartsHiddenShowsOnTheFirstFrameRegistersEveryPluginAnswersTheChannelAndExitsZeroOnClose) {
  HostSetup setup;
  setup.environment = {{L"TARVEX_STANDIN_DPI", L"96"}};
  setup.script = {"window report", "send tarvex/windows_vpn " + kIsConnectedCall, "close"};
  HostProcess& host = Start(setup);
  ASSERT_NE(host.WaitForWindow(true, kProgramLimit), nullptr);
  const auto first_frame = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - host.start_time());
  std::printf("tarvex.exe showed its first frame %lld ms after it was started\n",
              static_cast<long long>(first_frame.count()));
  RecordProperty("first_frame_ms", static_cast<int>(first_frame.count()));

  EXPECT_EQ(host.WaitForExit(kProgramLimit), 0u);
  EXPECT_THAT(
      host.Transcript(),
      ElementsAre(EngineLine("arguments 0 null"), "frame 1 hidden visible", "frame 2 visible visible",
                  MatchesLine("window 10 10 1280 720 visible client (\\d+) (\\d+) view 0 0 \\1 \\2 focus"),
                  MatchesLine("reply tarvex/windows_vpn 000[12]"), "end",
                  // While the view was still a window: before the quit message.
                  "viewcontroller destroyed hidden"));
  EXPECT_THAT(host.PluginRecord(), ElementsAreArray(AllPluginsRegisteredWithTheirOwnRegistrars()));
  EXPECT_THAT(host.DebugLog(), HasSubstr("WindowsVpnPlugin::HandleMethodCall called: isConnected"));

  // The first copy let go of its single-instance mutex: the name is free at
  // once. Whoever holds it turns the next copy away.
  HANDLE held = CreateMutexW(nullptr, TRUE, L"TarvexSingleInstance");
  const DWORD held_error = GetLastError();
  EXPECT_NE(held_error, static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  HostSetup next;
  next.environment = {{L"TARVEX_STANDIN_ACCEPT_DIALOGS", L"1"}};
  next.script = {"close"};
  HostProcess& next_host = Start(next);
  EXPECT_EQ(next_host.WaitForExit(kProgramLimit), 1u);
  EXPECT_THAT(next_host.Transcript(), ElementsAre("dialog Tarvex | Tarvex is already running. | icon error"));
  CloseHandle(held);
}

TEST_F(HostProgramTest, ASecondCopyShowsTheMessageBoxAndExitsOneWhileTheFirstRunsOn) {
  HostSetup first_setup;
  HostProcess& first = Start(first_setup);
  HWND first_window = first.WaitForWindow(true, kProgramLimit);
  ASSERT_NE(first_window, nullptr);

  HostSetup second_setup;
  second_setup.environment = {{L"TARVEX_STANDIN_ACCEPT_DIALOGS", L"1"}};
  HostProcess& second = Start(second_setup);
  EXPECT_EQ(second.WaitForExit(kProgramLimit), 1u);
  EXPECT_THAT(second.Transcript(), ElementsAre("dialog Tarvex | Tarvex is already running. | icon error"));
  EXPECT_THAT(second.PluginRecord(), IsEmpty());

  EXPECT_TRUE(first.Running());
  EXPECT_TRUE(IsWindowVisible(first_window));
  PostMessageW(first_window, WM_CLOSE, 0, 0);
  EXPECT_EQ(first.WaitForExit(kProgramLimit), 0u);
  EXPECT_THAT(first.PluginRecord(), ElementsAreArray(AllPluginsRegisteredWithTheirOwnRegistrars()));
}

TEST_F(HostProgramTest, AQuitMessageWhileTheWindowIsOpenEndsTheProgramWithZeroAndLetsTheNextCopyStart) {
  HostSetup setup;
  HostProcess& host = Start(setup);
  HWND window = host.WaitForWindow(true, kProgramLimit);
  ASSERT_NE(window, nullptr);
  // Not a close: the loop ends with the window, its view and the engine
  // still there, and the quit code is not the exit code.
  ASSERT_TRUE(PostThreadMessageW(GetWindowThreadProcessId(window, nullptr), WM_QUIT, 7, 0));
  EXPECT_EQ(host.WaitForExit(kProgramLimit), 0u);
  // The view controller went while the window was open, and nothing called
  // it once it was going (no "misuse" line). The empty script may or may not
  // have run out before the quit message came.
  const std::string engine = EngineLine("arguments 0 null");
  const std::string destroyed = "viewcontroller destroyed visible";
  EXPECT_THAT(
      host.Transcript(),
      AnyOf(ElementsAre(engine, "frame 1 hidden visible", "frame 2 visible visible", destroyed),
            ElementsAre(engine, "frame 1 hidden visible", "frame 2 visible visible", "end", destroyed)));

  HostSetup next;
  next.environment = {{L"TARVEX_STANDIN_ACCEPT_DIALOGS", L"1"}};
  next.script = {"close"};
  HostProcess& next_host = Start(next);
  EXPECT_EQ(next_host.WaitForExit(kProgramLimit), 0u);
  EXPECT_THAT(next_host.Transcript(), Not(Contains(StartsWith("dialog "))));
  EXPECT_THAT(next_host.Transcript(), Contains("frame 1 hidden visible"));
}

TEST_F(HostProgramTest, StartUpRegistersTheExternalPluginsInOrderThenItsOwnThenShowsOnTheFirstFrame) {
  // Every registrar refused, named in another order than the program asks
  // for them: the transcript gives the order of the requests.
  std::vector<std::string> names = {"tarvex/windows_vpn"};
  for (const PluginLibrary& plugin : kPluginLibraries) {
    names.insert(names.begin(), plugin.registrar_name);
  }
  std::wstring refused;
  for (const std::string& name : names) {
    refused += (refused.empty() ? L"" : L",") + std::wstring(name.begin(), name.end());
  }
  HostSetup setup;
  setup.environment = {{L"TARVEX_STANDIN_NO_REGISTRAR", refused}};
  setup.script = {"close"};
  HostProcess& host = Start(setup);
  EXPECT_EQ(host.WaitForExit(kProgramLimit), 0u);

  std::vector<std::string> expected = {EngineLine("arguments 0 null")};
  std::vector<std::string> plugins_with_null;
  for (const PluginLibrary& plugin : kPluginLibraries) {
    expected.push_back(std::string("noregistrar ") + plugin.registrar_name);
    plugins_with_null.push_back(std::string(plugin.registrar_name) + " null mainsta");
  }
  // The view is the window's child before the first frame (else "parked"),
  // and the window is shown by that frame's callback.
  expected.insert(expected.end(), {"noregistrar tarvex/windows_vpn", "frame 1 hidden visible",
                                   "frame 2 visible visible", "end", "viewcontroller destroyed hidden"});
  EXPECT_THAT(host.Transcript(), ElementsAreArray(expected));
  EXPECT_THAT(host.PluginRecord(), ElementsAreArray(plugins_with_null));
}

TEST_F(HostProgramTest,
       ARefusedEngineOrViewControllerEndsTheProgramWithOneBeforeAnythingIsShownOrRegistered) {
  HostSetup missing_bundle;
  missing_bundle.private_copy = true;
  missing_bundle.without_bundle = true;
  HostSetup refused_view;
  refused_view.environment = {{L"TARVEX_STANDIN_REFUSE_VIEW_CONTROLLER", L"1"}};
  const std::pair<HostSetup, std::string> refusals[] = {{missing_bundle, "refused engine"},
                                                        {refused_view, "refused viewcontroller"}};
  for (const auto& [setup, refusal] : refusals) {
    HostProcess& host = Start(setup);
    EXPECT_EQ(host.WaitForExit(kProgramLimit), 1u) << refusal;
    // No frame, and no later call with the engine the refusal ended (it
    // would be a "misuse" line).
    EXPECT_THAT(host.Transcript(), ElementsAre(EngineLine("arguments 0 null"), refusal));
    EXPECT_THAT(host.PluginRecord(), IsEmpty()) << refusal;
    EXPECT_THAT(host.Output(), HasSubstr("Failed to create view controller.")) << refusal;
  }
}

TEST_F(HostProgramTest, WithoutRegistrarsStartUpGoesOnAndPluginsGetTheNullHandle) {
  HostSetup setup;
  setup.environment = {{L"TARVEX_STANDIN_NO_REGISTRAR", L"tarvex/windows_vpn,RivePlugin"}};
  setup.script = {"send tarvex/windows_vpn " + kIsConnectedCall, "close"};
  HostProcess& host = Start(setup);
  EXPECT_EQ(host.WaitForExit(kProgramLimit), 0u);
  const std::vector<std::string> transcript = host.Transcript();
  EXPECT_THAT(transcript, Contains("frame 1 hidden visible"));
  EXPECT_THAT(transcript, Contains("noregistrar tarvex/windows_vpn"));
  EXPECT_THAT(transcript, Contains("unhandled tarvex/windows_vpn"));
  std::vector<std::string> expected = AllPluginsRegisteredWithTheirOwnRegistrars();
  expected[5] = "RivePlugin null mainsta";
  EXPECT_THAT(host.PluginRecord(), ElementsAreArray(expected));
  EXPECT_THAT(host.DebugLog(), IsEmpty());
}

TEST_F(HostProgramTest, TheProgramKeepsItsParentsConsoleAndUnderADebuggerOpensOneItsOutputFollows) {
  struct Case {
    bool debugged;
    bool parent_console;
    std::vector<std::string> console_lines;
  };
  const Case cases[] = {
      {true, false, {"resync stdout console stderr console", "console own"}},
      {true, true, {"console shared"}},
      {false, true, {"console shared"}},
  };
  for (const Case& test_case : cases) {
    HostSetup setup;
    setup.debugged = test_case.debugged;
    setup.parent_console = test_case.parent_console;
    setup.script = {"close"};
    HostProcess& host = Start(setup);
    EXPECT_EQ(host.WaitForExit(kProgramLimit), 0u);
    std::vector<std::string> console_lines;
    for (const std::string& line : host.Transcript()) {
      if (line.rfind("console ", 0) == 0 || line.rfind("resync ", 0) == 0) {
        console_lines.push_back(line);
      }
    }
    EXPECT_EQ(console_lines, test_case.console_lines)
        << "debugged " << test_case.debugged << " parent console " << test_case.parent_console;
  }
}

TEST_F(HostProgramTest, CommandLineArgumentsAfterTheProgramPathReachTheEngine) {
  struct Case {
    std::wstring command_line;
    std::string arguments;
  };
  const Case cases[] = {
      {L"", "arguments 0 null"},
      {L"--word \"two words\"", "arguments 2 \"--word\" \"two words\""},
      // Not valid UTF-16: kept in its place, as an empty text.
      {L"a \xD800 \x00E9\x20AC", "arguments 3 \"a\" \"\" \"\xC3\xA9\xE2\x82\xAC\""},
  };
  for (const Case& test_case : cases) {
    HostSetup setup;
    setup.arguments = test_case.command_line;
    setup.script = {"close"};
    HostProcess& host = Start(setup);
    EXPECT_EQ(host.WaitForExit(kProgramLimit), 0u) << test_case.arguments;
    EXPECT_THAT(host.Transcript(), Contains(EngineLine(test_case.arguments)));
  }
}

}  // namespace
}  // namespace tarvex_test
