// The engine, view controller and view wrappers over the engine library.

#include <optional>

#include "embedding/flutter_engine.h"
#include "tests/client/client_test_support.h"

namespace flutter {
namespace {

using EngineTest = StandinTest;

TEST_F(EngineTest, EngineStartsWithTheProjectAndAViewOfTheRequestedSize) {
  EXPECT_EQ(standin::LastEngineProperties().argument_count, 0);
  EXPECT_TRUE(standin::LastEngineProperties().argument_array_was_null);
  EXPECT_EQ(standin::LastEngineProperties().entrypoint, "");
  EXPECT_FALSE(standin::LastEngineProperties().entrypoint_was_null);

  ProjectBundle project(L"data");
  project.set_dart_entrypoint_arguments({"--verbose", "two words"});
  project.set_dart_entrypoint("vpnMain");
  project.set_engine_options(-7, 42);
  controller_ = std::make_unique<FlutterViewController>(1280, 720, project);
  const standin::EngineProperties properties = standin::LastEngineProperties();
  EXPECT_EQ(properties.assets_path, L"data\\flutter_assets");
  EXPECT_EQ(properties.icu_data_path, L"data\\icudtl.dat");
  EXPECT_EQ(properties.aot_library_path, L"data\\app.so");
  EXPECT_EQ(properties.entrypoint, "vpnMain");
  EXPECT_EQ(properties.argument_count, 2);
  EXPECT_EQ(properties.arguments, (std::vector<std::string>{"--verbose", "two words"}));
  EXPECT_EQ(properties.engine_option_1, -7);
  EXPECT_EQ(properties.engine_option_2, 42);
  ASSERT_NE(controller_->view(), nullptr);
  EXPECT_EQ(standin::ViewSizeOf(standin::LastEngine()).width, 1280);
  EXPECT_EQ(standin::ViewSizeOf(standin::LastEngine()).height, 720);
}

TEST_F(EngineTest, RedrawFontsAndWindowMessagesReachTheEngine) {
  const int requests = standin::FrameRequests(engine_);
  controller_->ForceRedraw();
  EXPECT_EQ(standin::FrameRequests(engine_), requests + 1);
  controller_->engine()->ReloadSystemFonts();
  EXPECT_EQ(standin::FontReloads(engine_), 1);
  // WM_FONTCHANGE, which the engine leaves to the window.
  EXPECT_FALSE(controller_->HandleTopLevelWindowProc(nullptr, 0x001D, 0, 0).has_value());
}

TEST_F(EngineTest, AWindowMessageTheLibraryHandlesGivesBackTheLibrarysResult) {
  standin::AnswerWindowMessage(0x0100, -42);
  EXPECT_EQ(controller_->HandleTopLevelWindowProc(nullptr, 0x0100, 1, 2),
            std::optional<FlutterDesktopLResult>(-42));
  EXPECT_FALSE(controller_->HandleTopLevelWindowProc(nullptr, 0x0101, 1, 2).has_value());
  standin::StopAnsweringWindowMessages();
  EXPECT_FALSE(controller_->HandleTopLevelWindowProc(nullptr, 0x0100, 1, 2).has_value());
}

TEST_F(EngineTest, ViewControllerDestroysItsEngineOnceAndAnEngineThatKeptItsOwnDestroysIt) {
  controller_.reset();
  { FlutterEngine kept(ProjectBundle(L"data")); }
  const standin::Counts counts = standin::GetCounts();
  EXPECT_EQ(counts.engines_created, 2);
  EXPECT_EQ(counts.engines_destroyed, 2);
  EXPECT_EQ(counts.view_controllers_destroyed, 1);
  EXPECT_EQ(counts.invalid_destroy_calls, 0);
  EXPECT_EQ(counts.live_messengers, 0);
}

TEST_F(EngineTest, RefusedEngineLeavesTheControllerWithoutViewOrRegistrar) {
  standin::RefuseEngines(true);
  testing::internal::CaptureStderr();
  controller_ = std::make_unique<FlutterViewController>(800, 600, ProjectBundle(L"missing"));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Failed to create view controller.\n");
  EXPECT_EQ(controller_->view(), nullptr);

  testing::internal::CaptureStderr();
  EXPECT_EQ(controller_->engine()->GetPluginRegistrar("tarvex/windows_vpn"), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Cannot get plugin registrar on an engine that isn't running; call Run first.\n");
  // None of these reaches the library with the null handles (TearDown counts
  // misuse).
  controller_->ForceRedraw();
  EXPECT_FALSE(controller_->HandleTopLevelWindowProc(nullptr, 0x001D, 0, 0).has_value());
  controller_->engine()->ReloadSystemFonts();
  controller_->engine()->SetNextFrameCallback([] {});
}

TEST_F(EngineTest, NextFrameCallbackRunsOnceAndMaySetTheFollowingOne) {
  std::vector<std::string> frames;
  FlutterEngine* engine = controller_->engine();
  engine->SetNextFrameCallback([&frames, engine] {
    frames.push_back("first");
    engine->SetNextFrameCallback([&frames] { frames.push_back("second"); });
  });
  EXPECT_TRUE(frames.empty());
  for (int frame = 0; frame < 3; ++frame) {
    standin::ProduceFrame(engine_);
  }
  EXPECT_EQ(frames, (std::vector<std::string>{"first", "second"}));
}

}  // namespace
}  // namespace flutter
