// What no suite that drives the engine-library stand-in reaches: a script
// line it must refuse, a handle used after it was destroyed.

#include <utility>

#include "standins/engine/script_commands.h"
#include "tests/client/client_test_support.h"

namespace standin {
namespace {

TEST(EngineStandinTest, MalformedScriptLinesAreRefusedNeverTakenForAnotherCommand) {
  for (const char* line : {"send", "send a/b 0 7", "send a/b 070", "send a/b 69sC", "sleep 5s", "close now",
                           "dialogs cancel", "window report 1", "window resize 5", "window resize -5 5",
                           "window send 0x1g 0 0", "window send -6 1 0", "window open", "window",
                           "services \t \r", "process", "process report all", "notes x"}) {
    EXPECT_EQ(ParseScriptLine(line).kind, ScriptCommand::Kind::kError) << line;
  }
  EXPECT_EQ(ParseScriptLine("frobnicate 3").reason, "unknown command \"frobnicate\"");
  EXPECT_EQ(ParseScriptLine("window dpichanged -120 0 0 1 1").reason,
            "usage: window dpichanged <dpi> <left> <top> <right> <bottom>");
}

// Under Wine a use after free rarely crashes: the suites rely on each such
// call being counted and written as a "misuse" line.
TEST(EngineStandinTest, EveryCallWithAHandleThatIsGoneIsOneMisuseAndDoesNothing) {
  ResetCounts();
  FlutterDesktopEngineProperties properties = {};
  properties.assets_path = properties.icu_data_path = properties.aot_library_path = L"data";
  FlutterDesktopEngine* engine = FlutterDesktopEngineCreate(&properties);
  FlutterDesktopMessenger* messenger = FlutterDesktopEngineGetMessenger(engine);
  FlutterDesktopViewController* controller = FlutterDesktopViewControllerCreate(8, 6, engine);
  const auto one_misuse = [](const std::string& function, const std::function<void()>& call) {
    const int before = GetCounts().misuse_calls;
    const std::string printed = flutter::Stderr(call);
    EXPECT_EQ(GetCounts().misuse_calls - before, 1) << function;
    EXPECT_NE(printed.find("misuse: " + function + " "), std::string::npos) << printed;
  };
  // Owned by the view controller: not the caller's to destroy.
  one_misuse("FlutterDesktopEngineDestroy", [&] { EXPECT_FALSE(FlutterDesktopEngineDestroy(engine)); });
  FlutterDesktopViewControllerDestroy(controller);
  EXPECT_EQ(GetCounts().misuse_calls, 1);
  one_misuse("FlutterDesktopViewControllerDestroy", [&] { FlutterDesktopViewControllerDestroy(controller); });
  one_misuse("FlutterDesktopEngineGetPluginRegistrar",
             [&] { EXPECT_EQ(FlutterDesktopEngineGetPluginRegistrar(engine, "plugin"), nullptr); });
  // The engine held the messenger's last reference.
  const uint8_t byte = 0;
  one_misuse("FlutterDesktopMessengerSend",
             [&] { EXPECT_FALSE(FlutterDesktopMessengerSend(messenger, "a/b", &byte, 1)); });
  ResetCounts();
}

}  // namespace
}  // namespace standin
