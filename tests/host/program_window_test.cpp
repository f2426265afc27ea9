// tarvex.exe's window as the system and the user meet it: placed for the
// monitor's DPI, hidden until the first frame, following resizes, focus and
// DPI changes, the engine first in line for messages, a theme-following
// title bar.

#include <cstdint>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "tests/host/host_program_fixture.h"

namespace tarvex_test {
namespace {

using testing::Contains;
using testing::ElementsAre;
using testing::IsEmpty;
using testing::Not;

TEST_F(HostProgramTest, AtOneHundredFortyFourDpiTheWindowStaysHiddenUntilTheHeldBackFirstFrame) {
  HostSetup setup;
  setup.environment = {{L"TARVEX_STANDIN_DPI", L"144"}, {L"TARVEX_STANDIN_FIRST_FRAME_DELAY_MS", L"2500"}};
  HostProcess& host = Start(setup);
  HWND window = host.WaitForWindow(false, kProgramLimit);
  ASSERT_NE(window, nullptr);
  const auto found = std::chrono::steady_clock::now();
  RECT placed = {};
  GetWindowRect(window, &placed);
  EXPECT_EQ(placed.left, 15);
  EXPECT_EQ(placed.top, 15);
  EXPECT_EQ(placed.right - placed.left, 1920);
  EXPECT_EQ(placed.bottom - placed.top, 1080);

  EXPECT_FALSE(IsWindowVisible(window));
  std::this_thread::sleep_for(1s);
  EXPECT_FALSE(IsWindowVisible(window)) << "shown before the first frame";
  ASSERT_NE(host.WaitForWindow(true, kProgramLimit), nullptr) << testing::PrintToString(host.Transcript());
  EXPECT_GE(std::chrono::steady_clock::now() - found, 1500ms);

  PostMessageW(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(host.WaitForExit(kProgramLimit), 0u);
  EXPECT_THAT(host.Transcript(), Contains("frame 1 hidden visible"));
}

TEST_F(HostProgramTest, TheWindowIsTitledTarvexOverlappedAndPlacedAtTenTenScaledAtOneHundredTwentyDpi) {
  HostSetup setup;
  setup.environment = {{L"TARVEX_STANDIN_DPI", L"120"}};
  HostProcess& host = Start(setup);
  HWND window = host.WaitForWindow(true, kProgramLimit);
  ASSERT_NE(window, nullptr);
  wchar_t text[32] = {};
  GetClassNameW(window, text, 32);
  EXPECT_STREQ(text, L"FLUTTER_RUNNER_WIN32_WINDOW");
  GetWindowTextW(window, text, 32);
  EXPECT_STREQ(text, L"tarvex");
  const LONG style = GetWindowLongW(window, GWL_STYLE);
  EXPECT_EQ(style & WS_OVERLAPPEDWINDOW, WS_OVERLAPPEDWINDOW);
  EXPECT_EQ(style & (WS_CHILD | WS_POPUP), 0);
  EXPECT_EQ(GetClassLongW(window, GCL_STYLE), static_cast<DWORD>(CS_HREDRAW | CS_VREDRAW));
  RECT placed = {};
  GetWindowRect(window, &placed);
  EXPECT_EQ(placed.left, 12);
  EXPECT_EQ(placed.top, 12);
  EXPECT_EQ(placed.right - placed.left, 1600);
  EXPECT_EQ(placed.bottom - placed.top, 900);
  PostMessageW(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(host.WaitForExit(kProgramLimit), 0u);
}

TEST_F(HostProgramTest,
       TheChildFollowsResizesTakesTheFocusOnActivationAndTheWindowTakesTheSuggestedDpiRectangle) {
  HostSetup setup;
  setup.environment = {{L"TARVEX_STANDIN_DPI", L"144"}};
  setup.script = {
      "window report",
      "window resize 1000 700",
      "window report",
      // Focus on the top-level window itself; WM_ACTIVATE hands it to the child.
      "window focus",
      "window report",
      "window send 0x0006 1 0",
      "window report",
      "window dpichanged 120 100 120 1700 1020",
      "window report",
      // Without the suggested rectangle nothing moves.
      "window send 0x02E0 0x00780078 0",
      "window report",
      "window send 0x001D 0 0",
      "close",
  };
  HostProcess& host = Start(setup);
  EXPECT_EQ(host.WaitForExit(kProgramLimit), 0u);
  const auto filling = [](const std::string& window, const std::string& focus) {
    return MatchesLine("window " + window + " visible client (\\d+) (\\d+) view 0 0 \\1 \\2 " + focus);
  };
  EXPECT_THAT(
      host.Transcript(),
      ElementsAre(EngineLine("arguments 0 null"), "frame 1 hidden visible", "frame 2 visible visible",
                  filling("15 15 1920 1080", "focus"), filling("15 15 1000 700", "focus"),
                  filling("15 15 1000 700", "nofocus"), "window result 0", filling("15 15 1000 700", "focus"),
                  "window result 0", filling("100 120 1600 900", "focus"), "window result 0",
                  filling("100 120 1600 900", "focus"), "fonts reloaded", "window result 0", "end",
                  "viewcontroller destroyed hidden"));
}

TEST_F(HostProgramTest, AMessageTheEngineAnswersGetsTheEnginesResultAndNeverReachesTheWindow) {
  HostSetup setup;
  setup.environment = {{L"TARVEX_STANDIN_ANSWER_MESSAGE", L"0x001D=7,0x0005=3"}};
  setup.script = {"window send 0x001D 0 0", "window send 0x0005 0 0x00C80064",
                  "window report",          "window resize 1000 700",
                  "window report",          "close"};
  HostProcess& host = Start(setup);
  const HWND window = host.WaitForWindow(false, kProgramLimit);
  EXPECT_EQ(host.WaitForExit(kProgramLimit), 0u);
  const std::vector<std::string> transcript = host.Transcript();
  const std::string window_number = std::to_string(reinterpret_cast<uintptr_t>(window));
  EXPECT_THAT(transcript, Contains("answered 29 0 0 window " + window_number));
  EXPECT_THAT(transcript, Contains("window result 7"));
  EXPECT_THAT(transcript, Not(Contains("fonts reloaded")));
  EXPECT_THAT(transcript, Contains("answered 5 0 13107300 window " + window_number));
  EXPECT_THAT(transcript, Contains("window result 3"));

  // The resize's WM_SIZE reached the engine with the new client size, and
  // not the window: the view kept the size it had.
  const std::regex report("window .* client (\\d+) (\\d+) view 0 0 (\\d+) (\\d+) \\w+");
  std::vector<std::smatch> reports;
  for (const std::string& line : transcript) {
    std::smatch match;
    if (std::regex_match(line, match, report)) {
      reports.push_back(match);
    }
  }
  ASSERT_EQ(reports.size(), 2u) << testing::PrintToString(transcript);
  const int width = std::stoi(reports[1][1]);
  const int height = std::stoi(reports[1][2]);
  EXPECT_THAT(transcript,
              Contains("answered 5 0 " + std::to_string(height << 16 | width) + " window " + window_number));
  EXPECT_EQ(reports[1][3], reports[0][1]);
  EXPECT_EQ(reports[1][4], reports[0][2]);
  EXPECT_NE(reports[1][1], reports[0][1]);
}

// The user's app theme, as the program reads it from the registry.
class ThemeSetting {
 public:
  ThemeSetting() { Remove(); }
  ~ThemeSetting() { Remove(); }

  void Set(DWORD apps_use_light_theme) {
    RegSetKeyValueW(HKEY_CURRENT_USER, kKey, L"AppsUseLightTheme", REG_DWORD, &apps_use_light_theme,
                    sizeof(apps_use_light_theme));
  }
  void Remove() { RegDeleteKeyValueW(HKEY_CURRENT_USER, kKey, L"AppsUseLightTheme"); }

 private:
  static constexpr wchar_t kKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize";
};

TEST_F(HostProgramTest, TheTitleBarIsDarkExactlyWhenAppsUseTheDarkTheme) {
  const std::string kDark = "DwmSetWindowAttribute FLUTTER_RUNNER_WIN32_WINDOW 20 4 1";
  const std::string kLight = "DwmSetWindowAttribute FLUTTER_RUNNER_WIN32_WINDOW 20 4 0";
  ThemeSetting theme;
  HostSetup setup;
  setup.private_copy = true;
  setup.with_dwmapi_standin = true;

  // Without the value the title bar is left as the system draws it; later
  // theme switches reach the window with the colorization message.
  HostProcess& unset = Start(setup);
  HWND window = unset.WaitForWindow(true, kProgramLimit);
  ASSERT_NE(window, nullptr);
  EXPECT_THAT(unset.DwmRecord(), IsEmpty());
  DWORD_PTR ignored = 0;
  for (DWORD value : {0u, 1u, 2u}) {
    theme.Set(value);
    SendMessageTimeoutW(window, WM_DWMCOLORIZATIONCOLORCHANGED, 0, 0, SMTO_NORMAL, 10000, &ignored);
  }
  theme.Remove();
  SendMessageTimeoutW(window, WM_DWMCOLORIZATIONCOLORCHANGED, 0, 0, SMTO_NORMAL, 10000, &ignored);
  PostMessageW(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(unset.WaitForExit(kProgramLimit), 0u);
  EXPECT_THAT(unset.DwmRecord(), ElementsAre(kDark, kLight, kLight));

  // Set before the start: the window is created with it.
  theme.Set(0);
  setup.script = {"close"};
  HostProcess& dark = Start(setup);
  EXPECT_EQ(dark.WaitForExit(kProgramLimit), 0u);
  EXPECT_THAT(dark.DwmRecord(), ElementsAre(kDark));
}

}  // namespace
}  // namespace tarvex_test
