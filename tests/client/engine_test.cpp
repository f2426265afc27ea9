// The engine, view controller and plugin registrar wrappers over the engine
// library.

#include <optional>

#include "embedding/flutter_engine.h"
#include "embedding/plugin.h"
#include "embedding/plugin_registrar_windows.h"
#include "tests/client/client_test_support.h"

namespace flutter {
namespace {

using EngineTest = StandinTest;

TEST_F(EngineTest, EngineStartsWithTheProjectAndAViewOfTheRequestedSize) {
  EXPECT_TRUE(standin::LastEngineProperties().argument_array_was_null);
  EXPECT_EQ(standin::LastEngineProperties().entrypoint, "");
  EXPECT_FALSE(standin::LastEngineProperties().entrypoint_was_null);

  ProjectBundle project(L"data");
  project.set_dart_entrypoint_arguments({"--verbose", "two words"});
  project.set_dart_entrypoint("vpnMain");
  project.set_engine_options(-7, 42);
  controller_ = std::make_unique<FlutterViewController>(1280, 720, project);
  const standin::EngineProperties properties = standin::LastEngineProperties();
  EXPECT_EQ(properties.assets_path + L" " + properties.icu_data_path + L" " + properties.aot_library_path,
            L"data\\flutter_assets data\\icudtl.dat data\\app.so");
  EXPECT_EQ(properties.entrypoint, "vpnMain");
  EXPECT_EQ(properties.argument_count, 2);
  EXPECT_EQ(properties.arguments, (std::vector<std::string>{"--verbose", "two words"}));
  EXPECT_EQ(std::make_pair(properties.engine_option_1, properties.engine_option_2), std::make_pair(-7, 42));
  ASSERT_NE(controller_->view(), nullptr);
  EXPECT_EQ(standin::ViewSizeOf(standin::LastEngine()).width, 1280);
  EXPECT_EQ(standin::ViewSizeOf(standin::LastEngine()).height, 720);
}

TEST_F(EngineTest, WindowMessagesAndFramesComeBackFromTheLibrary) {
  // The library's answer to a window message, or none.
  standin::AnswerWindowMessage(0x0100, -42);
  EXPECT_EQ(controller_->HandleTopLevelWindowProc(nullptr, 0x0100, 1, 2),
            std::optional<FlutterDesktopLResult>(-42));
  EXPECT_FALSE(controller_->HandleTopLevelWindowProc(nullptr, 0x0101, 1, 2).has_value());

  // The next-frame callback runs once and may set the following one.
  std::vector<std::string> frames;
  FlutterEngine* engine = controller_->engine();
  engine->SetNextFrameCallback([&frames, engine] {
    frames.push_back("first");
    engine->SetNextFrameCallback([&frames] { frames.push_back("second"); });
  });
  for (int frame = 0; frame < 3; ++frame) {
    standin::ProduceFrame(engine_);
  }
  EXPECT_EQ(frames, (std::vector<std::string>{"first", "second"}));
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

// The library refused the engine: nothing may reach it with the null handles
// (TearDown counts misuse).
TEST_F(EngineTest, RefusedEngineLeavesNoViewOrRegistrarAndCallsNothingInTheLibrary) {
  standin::RefuseEngines(true);
  EXPECT_EQ(Stderr([this] {
              controller_ = std::make_unique<FlutterViewController>(800, 600, ProjectBundle(L"x"));
            }),
            "Failed to create view controller.\n");
  EXPECT_EQ(controller_->view(), nullptr);
  EXPECT_EQ(Stderr([this] { EXPECT_EQ(controller_->engine()->GetPluginRegistrar("p"), nullptr); }),
            "Cannot get plugin registrar on an engine that isn't running; call Run first.\n");
  controller_->ForceRedraw();
  EXPECT_FALSE(controller_->HandleTopLevelWindowProc(nullptr, 0x001D, 0, 0).has_value());
  controller_->engine()->ReloadSystemFonts();
  controller_->engine()->SetNextFrameCallback([] {});
  bool replied = false;
  const uint8_t event[] = {0x01};
  messenger()->Send("host/events", event, sizeof(event));
  messenger()->Send("host/question", event, sizeof(event),
                    [&replied](const uint8_t*, size_t) { replied = true; });
  messenger()->SetMessageHandler("test/raw", [](const uint8_t*, size_t, BinaryReply) {});
  messenger()->SetMessageHandler("test/raw", nullptr);
  controller_.reset();
  EXPECT_FALSE(replied);
  EXPECT_EQ(standin::GetCounts().null_messenger_calls, 0);
}

struct TeardownPlugin : Plugin {
  explicit TeardownPlugin(std::function<void()> run) : on_destroy(std::move(run)) {}
  ~TeardownPlugin() override { on_destroy(); }
  std::function<void()> on_destroy;
};

using RegistrarTest = StandinTest;

TEST_F(RegistrarTest, PluginsGoBeforeTheMessengerAndTheViewWhichIsTheControllersOrNone) {
  std::vector<std::string> log;
  {
    PluginRegistrarWindows registrar(controller_->engine()->GetPluginRegistrar("test"));
    EXPECT_EQ(registrar.GetView()->GetNativeWindow(), controller_->view()->GetNativeWindow());
    registrar.AddPlugin(std::make_unique<TeardownPlugin>([&] {
      log.push_back(std::string(registrar.messenger() ? "messenger" : "-") +
                    (registrar.GetView() ? " view" : " -"));
    }));
  }
  {
    PluginRegistrar registrar(controller_->engine()->GetPluginRegistrar("test"));
    registrar.AddPlugin(
        std::make_unique<TeardownPlugin>([&] { log.push_back(registrar.messenger() ? "messenger" : "-"); }));
  }
  EXPECT_EQ(log, (std::vector<std::string>{"messenger view", "messenger"}));
  EXPECT_EQ(standin::RegistrarNames(engine_), std::vector<std::string>{"test"});
  FlutterEngine headless(ProjectBundle(L"data"));
  EXPECT_EQ(PluginRegistrarWindows(headless.GetPluginRegistrar("test")).GetView(), nullptr);
}

}  // namespace
}  // namespace flutter
