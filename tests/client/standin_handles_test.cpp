// The stand-in's watch on handles it has destroyed: under Wine a use after
// free rarely crashes, so each such call must be reported.

#include <functional>
#include <utility>

#include "tests/client/client_test_support.h"

namespace standin {
namespace {

FlutterDesktopEngine* CreateEngine() {
  FlutterDesktopEngineProperties properties = {};
  properties.assets_path = L"data\\flutter_assets";
  properties.icu_data_path = L"data\\icudtl.dat";
  properties.aot_library_path = L"data\\app.so";
  properties.dart_entrypoint = "";
  return FlutterDesktopEngineCreate(&properties);
}

// Runs `call` and answers whether it was reported as one misuse of
// `function`.
testing::AssertionResult OneMisuse(const std::string& function, const std::function<void()>& call) {
  const int before = GetCounts().misuse_calls;
  testing::internal::CaptureStderr();
  call();
  const std::string reported = testing::internal::GetCapturedStderr();
  const int misuses = GetCounts().misuse_calls - before;
  if (misuses != 1 || reported.find("misuse: " + function + " ") == std::string::npos) {
    return testing::AssertionFailure() << function << ": " << misuses << " misuse(s), stderr: " << reported;
  }
  return testing::AssertionSuccess();
}

TEST(StandinHandlesTest, EveryCallWithAHandleOfAnEndedEngineIsOneMisuseAndDoesNothing) {
  ResetCounts();
  FlutterDesktopEngine* engine = CreateEngine();
  FlutterDesktopMessenger* messenger = FlutterDesktopEngineGetMessenger(engine);
  FlutterDesktopPluginRegistrar* registrar = FlutterDesktopEngineGetPluginRegistrar(engine, "plugin");
  FlutterDesktopTextureRegistrar* textures = FlutterDesktopRegistrarGetTextureRegistrar(registrar);
  FlutterDesktopViewController* controller = FlutterDesktopViewControllerCreate(8, 6, engine);
  FlutterDesktopView* view = FlutterDesktopViewControllerGetView(controller);
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(GetCounts().misuse_calls, 0);

  // Owned by the view controller: not the caller's to destroy.
  EXPECT_TRUE(OneMisuse("FlutterDesktopEngineDestroy",
                        [engine] { EXPECT_FALSE(FlutterDesktopEngineDestroy(engine)); }));
  FlutterDesktopViewControllerDestroy(controller);

  const uint8_t byte = 0;
  const std::pair<std::string, std::function<void()>> stale_calls[] = {
      {"FlutterDesktopViewControllerDestroy", [&] { FlutterDesktopViewControllerDestroy(controller); }},
      {"FlutterDesktopViewControllerForceRedraw",
       [&] { FlutterDesktopViewControllerForceRedraw(controller); }},
      {"FlutterDesktopViewControllerGetView",
       [&] { EXPECT_EQ(FlutterDesktopViewControllerGetView(controller), nullptr); }},
      {"FlutterDesktopViewGetHWND", [&] { EXPECT_EQ(FlutterDesktopViewGetHWND(view), nullptr); }},
      {"FlutterDesktopEngineDestroy", [&] { EXPECT_FALSE(FlutterDesktopEngineDestroy(engine)); }},
      {"FlutterDesktopEngineGetPluginRegistrar",
       [&] { EXPECT_EQ(FlutterDesktopEngineGetPluginRegistrar(engine, "plugin"), nullptr); }},
      {"FlutterDesktopEngineReloadSystemFonts", [&] { FlutterDesktopEngineReloadSystemFonts(engine); }},
      {"FlutterDesktopPluginRegistrarGetMessenger",
       [&] { EXPECT_EQ(FlutterDesktopPluginRegistrarGetMessenger(registrar), nullptr); }},
      {"FlutterDesktopTextureRegistrarMarkExternalTextureFrameAvailable",
       [&] { EXPECT_FALSE(FlutterDesktopTextureRegistrarMarkExternalTextureFrameAvailable(textures, 1)); }},
      // The engine held the messenger's last reference.
      {"FlutterDesktopMessengerSend",
       [&] { EXPECT_FALSE(FlutterDesktopMessengerSend(messenger, "a/b", &byte, 1)); }},
      {"FlutterDesktopMessengerRelease", [&] { FlutterDesktopMessengerRelease(messenger); }},
  };
  for (const auto& [function, call] : stale_calls) {
    EXPECT_TRUE(OneMisuse(function, call));
  }
  ResetCounts();
}

TEST(StandinHandlesTest, AMessengerWithAReferenceLeftOutlivesItsEngineWithoutMisuse) {
  ResetCounts();
  FlutterDesktopEngine* engine = CreateEngine();
  FlutterDesktopMessenger* messenger =
      FlutterDesktopMessengerAddRef(FlutterDesktopEngineGetMessenger(engine));
  EXPECT_TRUE(FlutterDesktopEngineDestroy(engine));

  const uint8_t byte = 0;
  EXPECT_FALSE(FlutterDesktopMessengerIsAvailable(messenger));
  EXPECT_FALSE(FlutterDesktopMessengerSend(messenger, "a/b", &byte, 1));
  FlutterDesktopMessengerUnlock(FlutterDesktopMessengerLock(messenger));
  FlutterDesktopMessengerRelease(messenger);
  EXPECT_EQ(GetCounts().misuse_calls, 0);
  EXPECT_EQ(GetCounts().live_messengers, 0);

  EXPECT_TRUE(OneMisuse("FlutterDesktopMessengerIsAvailable",
                        [messenger] { EXPECT_FALSE(FlutterDesktopMessengerIsAvailable(messenger)); }));
  ResetCounts();
}

}  // namespace
}  // namespace standin
