// The engine, view controller and view wrappers over the engine library.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "embedding/flutter_engine.h"
#include "embedding/flutter_view_controller.h"
#include "embedding/project_bundle.h"
#include "standins/engine/standin_engine.h"
#include "tests/client/client_test_support.h"

namespace flutter {
namespace {

using EngineTest = StandinTest;

TEST_F(EngineTest, PropertiesCarryTheProjectAndNoArgumentArrayWithoutArguments) {
  FlutterViewController controller(800, 600, ProjectBundle(L"data"));
  const standin::EngineProperties properties = standin::LastEngineProperties();
  EXPECT_EQ(properties.assets_path, L"data\\flutter_assets");
  EXPECT_EQ(properties.icu_data_path, L"data\\icudtl.dat");
  EXPECT_EQ(properties.aot_library_path, L"data\\app.so");
  EXPECT_FALSE(properties.entrypoint_was_null);
  EXPECT_EQ(properties.entrypoint, "");
  EXPECT_EQ(properties.argument_count, 0);
  EXPECT_TRUE(properties.argument_array_was_null);
  EXPECT_EQ(properties.engine_option_1, 0);
  EXPECT_EQ(properties.engine_option_2, 0);
}

TEST_F(EngineTest, ArgumentsReachTheEngineInOrder) {
  ProjectBundle project(L"C:\\Tarvex\\data");
  project.set_dart_entrypoint_arguments({"--verbose", "two words", "caf\xC3\xA9"});
  FlutterViewController controller(800, 600, project);
  const standin::EngineProperties properties = standin::LastEngineProperties();
  EXPECT_EQ(properties.assets_path, L"C:\\Tarvex\\data\\flutter_assets");
  EXPECT_EQ(properties.argument_count, 3);
  EXPECT_FALSE(properties.argument_array_was_null);
  EXPECT_EQ(properties.arguments, (std::vector<std::string>{"--verbose", "two words", "caf\xC3\xA9"}));
}

TEST_F(EngineTest, ViewControllerStartsTheEngineWithAViewOfTheRequestedSize) {
  FlutterViewController controller(1280, 720, ProjectBundle(L"data"));
  ASSERT_NE(controller.view(), nullptr);
  EXPECT_NE(controller.view()->GetNativeWindow(), nullptr);
  FlutterDesktopEngine* engine = standin::LastEngine();
  EXPECT_EQ(standin::ViewSizeOf(engine).width, 1280);
  EXPECT_EQ(standin::ViewSizeOf(engine).height, 720);
  // The first frame is asked for by the start itself; ForceRedraw asks again.
  EXPECT_EQ(standin::FrameRequests(engine), 1);
  controller.ForceRedraw();
  EXPECT_EQ(standin::FrameRequests(engine), 2);
  EXPECT_EQ(standin::GetCounts().view_controllers_created, 1);
}

TEST_F(EngineTest, DestroyingTheViewControllerDestroysTheEngineExactlyOnce) {
  {
    FlutterViewController controller(800, 600, ProjectBundle(L"data"));
    EXPECT_EQ(standin::GetCounts().live_engines, 1);
  }
  const standin::Counts counts = standin::GetCounts();
  EXPECT_EQ(counts.engines_created, 1);
  EXPECT_EQ(counts.engines_destroyed, 1);
  EXPECT_EQ(counts.view_controllers_destroyed, 1);
  EXPECT_EQ(counts.invalid_destroy_calls, 0);
  EXPECT_EQ(counts.live_engines, 0);
  EXPECT_EQ(counts.live_messengers, 0);
}

TEST_F(EngineTest, EngineWrapperThatKeptItsEngineDestroysIt) {
  { FlutterEngine engine(ProjectBundle(L"data")); }
  EXPECT_EQ(standin::GetCounts().engines_destroyed, 1);
  EXPECT_EQ(standin::GetCounts().live_engines, 0);
}

TEST_F(EngineTest, RefusedEngineLeavesTheControllerWithoutViewAndRegistrar) {
  standin::RefuseEngines(true);
  testing::internal::CaptureStderr();
  FlutterViewController controller(800, 600, ProjectBundle(L"missing"));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Failed to create view controller.\n");
  EXPECT_EQ(controller.view(), nullptr);

  testing::internal::CaptureStderr();
  EXPECT_EQ(controller.engine()->GetPluginRegistrar("tarvex/windows_vpn"), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Cannot get plugin registrar on an engine that isn't running; call Run first.\n");
}

TEST_F(EngineTest, NextFrameCallbackRunsOnceAfterTheNextFrame) {
  FlutterViewController controller(800, 600, ProjectBundle(L"data"));
  FlutterDesktopEngine* engine = standin::LastEngine();
  int calls = 0;
  controller.engine()->SetNextFrameCallback([&calls] { ++calls; });
  EXPECT_EQ(calls, 0);
  standin::ProduceFrame(engine);
  EXPECT_EQ(calls, 1);
  standin::ProduceFrame(engine);
  EXPECT_EQ(calls, 1);
}

TEST_F(EngineTest, NextFrameCallbackMaySetTheFollowingOne) {
  FlutterViewController controller(800, 600, ProjectBundle(L"data"));
  FlutterDesktopEngine* engine = standin::LastEngine();
  std::vector<std::string> frames;
  FlutterEngine* wrapper = controller.engine();
  wrapper->SetNextFrameCallback([&frames, wrapper] {
    frames.push_back("first");
    wrapper->SetNextFrameCallback([&frames] { frames.push_back("second"); });
  });
  standin::ProduceFrame(engine);
  standin::ProduceFrame(engine);
  standin::ProduceFrame(engine);
  EXPECT_EQ(frames, (std::vector<std::string>{"first", "second"}));
}

TEST_F(EngineTest, RegistrarsArePerPluginName) {
  FlutterViewController controller(800, 600, ProjectBundle(L"data"));
  FlutterDesktopPluginRegistrar* vpn = controller.engine()->GetPluginRegistrar("tarvex/windows_vpn");
  FlutterDesktopPluginRegistrar* other = controller.engine()->GetPluginRegistrar("UrlLauncherWindows");
  EXPECT_NE(vpn, nullptr);
  EXPECT_NE(vpn, other);
  EXPECT_EQ(controller.engine()->GetPluginRegistrar("tarvex/windows_vpn"), vpn);
  EXPECT_EQ(standin::RegistrarNames(standin::LastEngine()),
            (std::vector<std::string>{"UrlLauncherWindows", "tarvex/windows_vpn"}));
}

TEST_F(EngineTest, TopLevelMessagesTheEngineDoesNotHandleGiveNoResult) {
  FlutterViewController controller(800, 600, ProjectBundle(L"data"));
  // WM_FONTCHANGE.
  EXPECT_FALSE(controller.HandleTopLevelWindowProc(nullptr, 0x001D, 0, 0).has_value());
  controller.engine()->ReloadSystemFonts();
  EXPECT_EQ(standin::FontReloads(standin::LastEngine()), 1);
}

}  // namespace
}  // namespace flutter
