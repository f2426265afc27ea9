#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "embedding/flutter_view_controller.h"
#include "embedding/method_channel.h"
#include "embedding/project_bundle.h"
#include "embedding/standard_method_codec.h"
#include "standins/engine/standin_engine.h"
#include "tests/support/hex_bytes.h"

namespace flutter {

// What `run` printed on the standard error stream.
inline std::string Stderr(const std::function<void()>& run) {
  testing::internal::CaptureStderr();
  run();
  return testing::internal::GetCapturedStderr();
}

// A running engine with a view and a method channel on it, from fresh counts.
class StandinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    standin::RefuseEngines(false);
    standin::StopAnsweringWindowMessages();
    standin::ResetCounts();
    controller_ = std::make_unique<FlutterViewController>(800, 600, ProjectBundle(L"data"));
    engine_ = standin::LastEngine();
    channel_ = Channel("test/channel");
  }

  // No test may call the library with a handle it has destroyed.
  void TearDown() override {
    channel_.reset();
    controller_.reset();
    EXPECT_EQ(standin::GetCounts().misuse_calls, 0);
  }

  std::unique_ptr<MethodChannel<>> Channel(const std::string& name) {
    return std::make_unique<MethodChannel<>>(messenger(), name, &StandardMethodCodec::GetInstance());
  }

  // Hands the result of every call on the test channel to `handle`.
  void OnCall(std::function<void(std::unique_ptr<MethodResult<>>)> handle) {
    channel_->SetMethodCallHandler(
        [handle](const MethodCall<>& /*call*/, std::unique_ptr<MethodResult<>> result) {
          handle(std::move(result));
        });
  }

  // Delivers bytes (by default the call "ping" without arguments) as the engine would.
  standin::Delivery Deliver(const std::string& channel = "test/channel",
                            const std::string& hex = "07 04 70 69 6E 67 00") {
    return standin::DeliverMessage(engine_, channel, Bytes(hex));
  }
  std::string Reply(const std::string& channel = "test/channel",
                    const std::string& hex = "07 04 70 69 6E 67 00") {
    return Hex(Deliver(channel, hex).reply.bytes);
  }

  BinaryMessenger* messenger() { return controller_->engine()->messenger(); }

  std::unique_ptr<FlutterViewController> controller_;
  FlutterDesktopEngine* engine_ = nullptr;
  std::unique_ptr<MethodChannel<>> channel_;
};

}  // namespace flutter
