// Plugin registrars: plugin ownership and teardown, the view, and textures.

#include <functional>
#include <utility>

#include "embedding/flutter_engine.h"
#include "embedding/plugin.h"
#include "embedding/plugin_registrar_windows.h"
#include "tests/client/client_test_support.h"

namespace flutter {
namespace {

struct TeardownPlugin : Plugin {
  explicit TeardownPlugin(std::function<void()> run) : on_destroy(std::move(run)) {}
  ~TeardownPlugin() override { on_destroy(); }
  std::function<void()> on_destroy;
};

class RegistrarTest : public StandinTest {
 protected:
  FlutterDesktopPluginRegistrar* Handle() { return controller_->engine()->GetPluginRegistrar("test"); }
};

TEST_F(RegistrarTest, PluginsGoBeforeTheMessengerAndTheView) {
  std::vector<std::string> log;
  {
    PluginRegistrarWindows registrar(Handle());
    registrar.AddPlugin(std::make_unique<TeardownPlugin>([&] {
      log.push_back(std::string(registrar.messenger() ? "messenger" : "-") +
                    (registrar.GetView() ? " view" : " -"));
    }));
  }
  {
    PluginRegistrar registrar(Handle());
    registrar.AddPlugin(
        std::make_unique<TeardownPlugin>([&] { log.push_back(registrar.messenger() ? "messenger" : "-"); }));
  }
  EXPECT_EQ(log, (std::vector<std::string>{"messenger view", "messenger"}));
}

TEST_F(RegistrarTest, MessengerOutlivesTheEngineAndThenReachesNothing) {
  auto registrar = std::make_unique<PluginRegistrarWindows>(Handle());
  BinaryMessenger* messenger = registrar->messenger();
  MethodChannel<> channel(messenger, "test/plugin", &StandardMethodCodec::GetInstance());
  const MethodCallHandler<> answer = [](const MethodCall<>& /*call*/,
                                        std::unique_ptr<MethodResult<>> result) { result->Success(); };
  channel.SetMethodCallHandler(answer);
  // A plugin that unregisters its channel as it is destroyed, at process exit.
  registrar->AddPlugin(
      std::make_unique<TeardownPlugin>([&channel] { channel.SetMethodCallHandler(nullptr); }));
  controller_.reset();
  ASSERT_EQ(standin::GetCounts().live_messengers, 1) << "the registrar's messenger holds the library's";

  auto token = std::make_shared<int>(0);
  const std::weak_ptr<int> watch = token;
  bool replied = false;
  const uint8_t event[] = {0x01};
  testing::internal::CaptureStderr();
  messenger->Send("host/events", event, sizeof(event));
  messenger->Send("host/question", event, sizeof(event),
                  [token = std::move(token), &replied](const uint8_t*, size_t) { replied = true; });
  channel.SetMethodCallHandler(answer);
  registrar.reset();
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_FALSE(replied);
  EXPECT_TRUE(watch.expired());
  EXPECT_EQ(standin::GetCounts().live_messengers, 0);
  EXPECT_EQ(standin::GetCounts().rejected_responses, 0);
}

// The library keeps the address of each stored handler: a messenger that
// goes while the engine runs must take its callbacks with it, or the next
// message on the channel runs a handler that is gone.
TEST_F(RegistrarTest, MessengerGoneBeforeTheEngineLeavesNoCallbackBehind) {
  {
    PluginRegistrarWindows registrar(Handle());
    MethodChannel<> channel(registrar.messenger(), "test/plugin", &StandardMethodCodec::GetInstance());
    channel.SetMethodCallHandler(
        [](const MethodCall<>& /*call*/, std::unique_ptr<MethodResult<>> result) { result->Success(); });
    registrar.messenger()->SetMessageHandler("test/raw", [](const uint8_t*, size_t, BinaryReply) {});
    EXPECT_EQ(Hex(Deliver("test/plugin").reply.bytes), "00 00");
  }
  EXPECT_EQ(standin::ChannelsWithCallback(engine_), std::vector<std::string>{});
  EXPECT_FALSE(Deliver("test/plugin").handled);
}

TEST_F(RegistrarTest, MessengerOfARefusedEngineCallsNothingInTheLibrary) {
  standin::RefuseEngines(true);
  testing::internal::CaptureStderr();
  controller_ = std::make_unique<FlutterViewController>(800, 600, ProjectBundle(L"missing"));
  testing::internal::GetCapturedStderr();
  BinaryMessenger* messenger = controller_->engine()->messenger();
  bool replied = false;
  const uint8_t event[] = {0x01};
  messenger->Send("host/events", event, sizeof(event));
  messenger->Send("host/question", event, sizeof(event),
                  [&replied](const uint8_t*, size_t) { replied = true; });
  messenger->SetMessageHandler("test/raw", [](const uint8_t*, size_t, BinaryReply) {});
  messenger->SetMessageHandler("test/raw", nullptr);
  controller_.reset();
  EXPECT_FALSE(replied);
  EXPECT_EQ(standin::GetCounts().null_messenger_calls, 0);
}

TEST_F(RegistrarTest, ViewIsTheControllersViewAndAbsentWithoutOne) {
  PluginRegistrarWindows registrar(Handle());
  ASSERT_NE(registrar.GetView(), nullptr);
  EXPECT_EQ(registrar.GetView()->GetNativeWindow(), controller_->view()->GetNativeWindow());
  EXPECT_EQ(standin::RegistrarNames(engine_), std::vector<std::string>{"test"});

  FlutterEngine headless(ProjectBundle(L"data"));
  EXPECT_EQ(PluginRegistrarWindows(headless.GetPluginRegistrar("test")).GetView(), nullptr);
}

TEST_F(RegistrarTest, TexturesRegisterTheirRecordAndCallBackIntoTheTexture) {
  PluginRegistrarWindows registrar(Handle());
  TextureRegistrar* textures = registrar.texture_registrar();
  FlutterDesktopTextureRegistrar* library = FlutterDesktopRegistrarGetTextureRegistrar(Handle());
  const auto* buffer = reinterpret_cast<const FlutterDesktopPixelBuffer*>(&registrar);
  const auto* descriptor = reinterpret_cast<const FlutterDesktopGpuSurfaceDescriptor*>(&registrar);
  TextureVariant pixels(PixelBufferTexture(
      [&](size_t width, size_t height) { return width == 640 && height == 480 ? buffer : nullptr; }));
  TextureVariant surface(GpuSurfaceTexture(
      7, [&](size_t width, size_t height) { return width == 1 && height == 2 ? descriptor : nullptr; }));
  const int64_t pixels_id = textures->RegisterTexture(&pixels);
  const auto pixels_info = standin::RegisteredTexture(library, pixels_id);
  const auto surface_info = standin::RegisteredTexture(library, textures->RegisterTexture(&surface));
  ASSERT_TRUE(pixels_info.has_value() && surface_info.has_value());

  EXPECT_EQ(pixels_info->type, kFlutterDesktopPixelBufferTexture);
  const FlutterDesktopPixelBufferTextureConfig& pixels_config = pixels_info->config.pixel_buffer_config;
  EXPECT_EQ(pixels_config.callback(640, 480, pixels_config.user_data), buffer);
  EXPECT_EQ(surface_info->type, kFlutterDesktopGpuSurfaceTexture);
  const FlutterDesktopGpuSurfaceTextureConfig& surface_config = surface_info->config.gpu_surface_config;
  EXPECT_EQ(surface_config.struct_size, 32u);
  EXPECT_EQ(surface_config.surface_type, 7);
  EXPECT_EQ(surface_config.callback(1, 2, surface_config.user_data), descriptor);

  EXPECT_TRUE(textures->MarkTextureFrameAvailable(pixels_id));
  EXPECT_EQ(standin::FramesMarkedAvailable(library, pixels_id), 1);
  int unregistered = 0;
  auto token = std::make_shared<int>(0);
  const std::weak_ptr<int> watch = token;
  textures->UnregisterTexture(pixels_id, [&unregistered, token = std::move(token)] { ++unregistered; });
  EXPECT_EQ(unregistered, 1);
  EXPECT_TRUE(watch.expired());
  EXPECT_EQ(standin::RegisteredTextureCount(library), 1u);
  // The library's answer is passed on, except for unregistering.
  EXPECT_FALSE(textures->MarkTextureFrameAvailable(pixels_id));
  EXPECT_TRUE(textures->UnregisterTexture(pixels_id));
}

// Throws when copied, to leave a variant without a value.
struct ThrowingCallback {
  ThrowingCallback() = default;
  ThrowingCallback(const ThrowingCallback& /*other*/) { throw 1; }
  const FlutterDesktopPixelBuffer* operator()(size_t, size_t) const { return nullptr; }
};

TEST_F(RegistrarTest, NoTextureOrAValuelessOneIsRefusedWithALine) {
  PluginRegistrarWindows registrar(Handle());
  TextureVariant valueless(GpuSurfaceTexture(1, nullptr));
  EXPECT_ANY_THROW(valueless.emplace<PixelBufferTexture>(ThrowingCallback()));
  ASSERT_TRUE(valueless.valueless_by_exception());
  for (TextureVariant* texture : {static_cast<TextureVariant*>(nullptr), &valueless}) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(registrar.texture_registrar()->RegisterTexture(texture), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Attempting to register unknown texture variant.\n");
  }
  EXPECT_EQ(standin::RegisteredTextureCount(FlutterDesktopRegistrarGetTextureRegistrar(Handle())), 0u);
}

}  // namespace
}  // namespace flutter
