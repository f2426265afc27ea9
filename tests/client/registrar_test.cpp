// Plugin registrars: plugin ownership and teardown, the view, and textures.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "embedding/flutter_engine.h"
#include "embedding/flutter_view_controller.h"
#include "embedding/method_channel.h"
#include "embedding/plugin.h"
#include "embedding/plugin_registrar_windows.h"
#include "embedding/project_bundle.h"
#include "embedding/standard_method_codec.h"
#include "standins/engine/standin_engine.h"
#include "tests/client/client_test_support.h"

namespace flutter {
namespace {

// Notes, when destroyed, whether the registrar's messenger (and, for a
// Windows registrar, its view) still existed, and takes its channel's handler
// down through that messenger.
class TeardownPlugin : public Plugin {
 public:
  TeardownPlugin(PluginRegistrar* registrar, PluginRegistrarWindows* windows_registrar,
                 std::vector<std::string>* log)
      : registrar_(registrar),
        windows_registrar_(windows_registrar),
        log_(log),
        channel_(registrar->messenger(), "test/plugin", &StandardMethodCodec::GetInstance()) {}

  ~TeardownPlugin() override {
    std::string line = std::string("messenger ") + (registrar_->messenger() ? "alive" : "gone");
    if (windows_registrar_ != nullptr) {
      line += std::string(", view ") + (windows_registrar_->GetView() ? "alive" : "gone");
    }
    log_->push_back(line);
    if (registrar_->messenger() != nullptr) {
      channel_.SetMethodCallHandler(nullptr);
    }
  }

 private:
  PluginRegistrar* registrar_;
  PluginRegistrarWindows* windows_registrar_;
  std::vector<std::string>* log_;
  MethodChannel<> channel_;
};

class RegistrarTest : public StandinTest {
 protected:
  void SetUp() override {
    StandinTest::SetUp();
    controller_ = std::make_unique<FlutterViewController>(800, 600, ProjectBundle(L"data"));
    handle_ = controller_->engine()->GetPluginRegistrar("test");
  }
  void TearDown() override {
    controller_.reset();
    StandinTest::TearDown();
  }

  std::unique_ptr<FlutterViewController> controller_;
  FlutterDesktopPluginRegistrar* handle_ = nullptr;
};

TEST_F(RegistrarTest, PluginsGoBeforeTheMessengerAndTheView) {
  std::vector<std::string> log;
  {
    PluginRegistrarWindows registrar(handle_);
    registrar.AddPlugin(std::make_unique<TeardownPlugin>(&registrar, &registrar, &log));
    registrar.AddPlugin(std::make_unique<TeardownPlugin>(&registrar, &registrar, &log));
  }
  EXPECT_EQ(log, (std::vector<std::string>{"messenger alive, view alive", "messenger alive, view alive"}));

  log.clear();
  {
    PluginRegistrar registrar(handle_);
    registrar.AddPlugin(std::make_unique<TeardownPlugin>(&registrar, nullptr, &log));
  }
  EXPECT_EQ(log, std::vector<std::string>{"messenger alive"});
}

TEST_F(RegistrarTest, ViewIsTheControllersViewAndAbsentWithoutOne) {
  PluginRegistrarWindows registrar(handle_);
  ASSERT_NE(registrar.GetView(), nullptr);
  EXPECT_EQ(registrar.GetView()->GetNativeWindow(), controller_->view()->GetNativeWindow());

  // An engine that was never given a view controller.
  FlutterEngine headless(ProjectBundle(L"data"));
  PluginRegistrarWindows headless_registrar(headless.GetPluginRegistrar("test"));
  EXPECT_EQ(headless_registrar.GetView(), nullptr);
}

TEST_F(RegistrarTest, PixelBufferTextureCallsBackIntoTheTexture) {
  PluginRegistrarWindows registrar(handle_);
  TextureRegistrar* textures = registrar.texture_registrar();
  const auto* buffer = reinterpret_cast<const FlutterDesktopPixelBuffer*>(&registrar);
  std::vector<size_t> asked;
  TextureVariant texture(PixelBufferTexture([&](size_t width, size_t height) {
    asked = {width, height};
    return buffer;
  }));
  const int64_t id = textures->RegisterTexture(&texture);
  ASSERT_GT(id, 0);

  FlutterDesktopTextureRegistrar* library_textures = FlutterDesktopRegistrarGetTextureRegistrar(handle_);
  const auto info = standin::RegisteredTexture(library_textures, id);
  ASSERT_TRUE(info.has_value());
  EXPECT_EQ(info->type, kFlutterDesktopPixelBufferTexture);
  const FlutterDesktopPixelBufferTextureConfig& config = info->config.pixel_buffer_config;
  EXPECT_EQ(config.callback(640, 480, config.user_data), buffer);
  EXPECT_EQ(asked, (std::vector<size_t>{640, 480}));

  EXPECT_TRUE(textures->MarkTextureFrameAvailable(id));
  EXPECT_EQ(standin::FramesMarkedAvailable(library_textures, id), 1);
  EXPECT_TRUE(textures->UnregisterTexture(id));
  EXPECT_EQ(standin::RegisteredTextureCount(library_textures), 0u);
  // The library's answers are passed back, except for unregistering.
  EXPECT_FALSE(textures->MarkTextureFrameAvailable(id));
  EXPECT_TRUE(textures->UnregisterTexture(id));
}

TEST_F(RegistrarTest, GpuSurfaceTextureCarriesItsTypeAndRecordSize) {
  PluginRegistrarWindows registrar(handle_);
  const auto* descriptor = reinterpret_cast<const FlutterDesktopGpuSurfaceDescriptor*>(&registrar);
  TextureVariant texture(
      GpuSurfaceTexture(7, [&](size_t /*width*/, size_t /*height*/) { return descriptor; }));
  const int64_t id = registrar.texture_registrar()->RegisterTexture(&texture);
  const auto info = standin::RegisteredTexture(FlutterDesktopRegistrarGetTextureRegistrar(handle_), id);
  ASSERT_TRUE(info.has_value());
  EXPECT_EQ(info->type, kFlutterDesktopGpuSurfaceTexture);
  const FlutterDesktopGpuSurfaceTextureConfig& config = info->config.gpu_surface_config;
  EXPECT_EQ(config.struct_size, 32u);
  EXPECT_EQ(config.surface_type, 7);
  EXPECT_EQ(config.callback(1, 2, config.user_data), descriptor);
}

TEST_F(RegistrarTest, UnregisterCallbackRunsOnceAndIsFreed) {
  PluginRegistrarWindows registrar(handle_);
  TextureVariant texture(PixelBufferTexture([](size_t, size_t) { return nullptr; }));
  const int64_t id = registrar.texture_registrar()->RegisterTexture(&texture);
  int calls = 0;
  auto token = std::make_shared<int>(0);
  std::weak_ptr<int> watch = token;
  registrar.texture_registrar()->UnregisterTexture(id, [&calls, token] { ++calls; });
  token.reset();
  EXPECT_EQ(calls, 1);
  EXPECT_TRUE(watch.expired());
}

// Throws when copied, to leave a variant without a value.
struct ThrowingCallback {
  ThrowingCallback() = default;
  ThrowingCallback(const ThrowingCallback& /*other*/) { throw 1; }
  const FlutterDesktopPixelBuffer* operator()(size_t, size_t) const { return nullptr; }
};

TEST_F(RegistrarTest, UnknownTextureIsRefusedWithALine) {
  PluginRegistrarWindows registrar(handle_);
  testing::internal::CaptureStderr();
  EXPECT_EQ(registrar.texture_registrar()->RegisterTexture(nullptr), -1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Attempting to register unknown texture variant.\n");

  TextureVariant texture(GpuSurfaceTexture(1, nullptr));
  const ThrowingCallback throwing;
  EXPECT_ANY_THROW(texture.emplace<PixelBufferTexture>(throwing));
  ASSERT_TRUE(texture.valueless_by_exception());
  testing::internal::CaptureStderr();
  EXPECT_EQ(registrar.texture_registrar()->RegisterTexture(&texture), -1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Attempting to register unknown texture variant.\n");
  EXPECT_EQ(standin::RegisteredTextureCount(FlutterDesktopRegistrarGetTextureRegistrar(handle_)), 0u);
}

}  // namespace
}  // namespace flutter
