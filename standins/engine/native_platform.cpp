// The platform of the native build: no window system. Frames and the
// answers to sent messages wait for the test to produce them.

#include <cstdlib>
#include <string>

#include "standins/engine/engine_internals.h"

namespace standin {

namespace {

class NativePlatform : public Platform {
 public:
  bool AcceptEngine(const FlutterDesktopEngineProperties& /*properties*/) override { return true; }

  std::unique_ptr<PlatformEngineData> EngineCreated(FlutterDesktopEngine& /*engine*/) override {
    return nullptr;
  }

  void EngineDestroying(FlutterDesktopEngine& /*engine*/) override {}

  bool CreateView(FlutterDesktopViewController& controller, int /*width*/, int /*height*/) override {
    // No window here: the view's address stands in for its window handle.
    controller.view.window = reinterpret_cast<FlutterDesktopWindowHandle>(&controller.view);
    return true;
  }

  void DestroyView(FlutterDesktopViewController& /*controller*/) override {}
  void FrameRequested(FlutterDesktopEngine& /*engine*/) override {}
  void ReplyQueued(FlutterDesktopEngine& /*engine*/) override {}
  void HostMessageSent(FlutterDesktopEngine& /*engine*/, const HostMessage& /*message*/) override {}
  void ResponseSent(uint64_t /*engine_serial*/, uint64_t /*delivery_id*/, const Reply& /*reply*/) override {}

  bool OffersRegistrar(const std::string& /*plugin_name*/) override { return true; }
  // Tests read the counts; there is no transcript natively.
  void Note(const std::string& /*line*/) override {}
  void OutputStreamsResynced() override {}

  uint32_t DpiForMonitor(FlutterDesktopMonitorHandle monitor) override {
    if (monitor == nullptr) {
      return 0;
    }
    const char* forced = std::getenv("TARVEX_STANDIN_DPI");
    if (forced != nullptr) {
      const unsigned long dpi = std::strtoul(forced, nullptr, 10);
      if (dpi > 0 && dpi < 10000) {
        return static_cast<uint32_t>(dpi);
      }
    }
    return 96;
  }
};

}  // namespace

Platform& ThePlatform() {
  static NativePlatform* platform = new NativePlatform();
  return *platform;
}

}  // namespace standin
