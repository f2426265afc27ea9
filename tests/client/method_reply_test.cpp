// Replies to method calls, from the engine's bytes through the channel and
// the handler back to the reply bytes the engine receives.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "embedding/flutter_view_controller.h"
#include "embedding/method_channel.h"
#include "embedding/plugin_registrar_windows.h"
#include "embedding/project_bundle.h"
#include "embedding/standard_method_codec.h"
#include "standins/engine/standin_engine.h"
#include "tests/client/client_test_support.h"

namespace flutter {
namespace {

constexpr char kDuplicateResult[] =
    "Error: Only one of Success, Error, or NotImplemented can be called, and it can be called exactly once. "
    "Ignoring duplicate result.\n";
constexpr char kLeakWarning[] = "Warning: Failed to respond to a message. This is a memory leak.\n";
constexpr char kDuplicateResponse[] = "Error: Response can be set only once. Ignoring duplicate response.\n";

// A running engine with a view, a registrar and one method channel on it,
// the way the host wires the in-process plugin.
class MethodReplyTest : public StandinTest {
 protected:
  void SetUp() override {
    StandinTest::SetUp();
    controller_ = std::make_unique<FlutterViewController>(800, 600, ProjectBundle(L"data"));
    engine_ = standin::LastEngine();
    registrar_ = std::make_unique<PluginRegistrarWindows>(controller_->engine()->GetPluginRegistrar("test"));
    channel_ = std::make_unique<MethodChannel<>>(registrar_->messenger(), "test/channel",
                                                 &StandardMethodCodec::GetInstance());
  }

  void TearDown() override {
    channel_.reset();
    registrar_.reset();
    controller_.reset();
    StandinTest::TearDown();
  }

  void OnCall(MethodCallHandler<> handler) { channel_->SetMethodCallHandler(std::move(handler)); }

  standin::Delivery Deliver(const std::string& hex) {
    return standin::DeliverMessage(engine_, "test/channel", Bytes(hex));
  }

  std::unique_ptr<FlutterViewController> controller_;
  FlutterDesktopEngine* engine_ = nullptr;
  std::unique_ptr<PluginRegistrarWindows> registrar_;
  std::unique_ptr<MethodChannel<>> channel_;
};

TEST_F(MethodReplyTest, SecondSuccessSendsNothingAndIsReportedOnce) {
  OnCall([](const MethodCall<>& /*call*/, std::unique_ptr<MethodResult<>> result) {
    result->Success(EncodableValue(true));
    result->Success(EncodableValue(false));
    result->NotImplemented();
  });
  testing::internal::CaptureStderr();
  const standin::Delivery delivery = Deliver(kPingCall);
  const std::string errors = testing::internal::GetCapturedStderr();

  ASSERT_TRUE(delivery.reply.answered);
  EXPECT_EQ(Hex(delivery.reply.bytes), "00 01");
  EXPECT_EQ(errors, std::string(kDuplicateResult) + kDuplicateResult);
  EXPECT_EQ(standin::GetCounts().rejected_responses, 0);
}

TEST_F(MethodReplyTest, CopiedReplyAnswersOnceAndReportsTheCopy) {
  registrar_->messenger()->SetMessageHandler(
      "test/raw", [](const uint8_t* /*message*/, size_t /*size*/, BinaryReply reply) {
        BinaryReply copy = reply;
        const uint8_t first[] = {0x00, 0x01};
        const uint8_t second[] = {0x00, 0x02};
        reply(first, sizeof(first));
        copy(second, sizeof(second));
      });
  testing::internal::CaptureStderr();
  const standin::Delivery delivery = standin::DeliverMessage(engine_, "test/raw", Bytes("00"));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), kDuplicateResponse);
  EXPECT_EQ(Hex(delivery.reply.bytes), "00 01");
  // The library never saw the used handle again.
  EXPECT_EQ(standin::GetCounts().rejected_responses, 0);
}

TEST_F(MethodReplyTest, DroppedResultWarnsAndSendsNothing) {
  std::string seen_method;
  OnCall([&](const MethodCall<>& call, std::unique_ptr<MethodResult<>> /*result*/) {
    seen_method = call.method_name();
  });
  testing::internal::CaptureStderr();
  const standin::Delivery delivery = Deliver(kPingCall);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), kLeakWarning);
  EXPECT_EQ(seen_method, "ping");
  EXPECT_FALSE(delivery.reply.answered);
}

TEST_F(MethodReplyTest, NotImplementedIsNoDataWhileEmptySuccessIsANullEnvelope) {
  OnCall(
      [](const MethodCall<>& /*call*/, std::unique_ptr<MethodResult<>> result) { result->NotImplemented(); });
  const standin::Delivery not_implemented = Deliver(kPingCall);
  ASSERT_TRUE(not_implemented.reply.answered);
  EXPECT_TRUE(not_implemented.reply.null_data);
  EXPECT_TRUE(not_implemented.reply.bytes.empty());

  OnCall([](const MethodCall<>& /*call*/, std::unique_ptr<MethodResult<>> result) { result->Success(); });
  const standin::Delivery success = Deliver(kPingCall);
  ASSERT_TRUE(success.reply.answered);
  EXPECT_FALSE(success.reply.null_data);
  EXPECT_EQ(Hex(success.reply.bytes), "00 00");

  OnCall([](const MethodCall<>& /*call*/, std::unique_ptr<MethodResult<>> result) { result->Error("E"); });
  EXPECT_EQ(Hex(Deliver(kPingCall).reply.bytes), "01 07 01 45 00 00");
}

TEST_F(MethodReplyTest, MessageThatIsNoMethodCallIsAnsweredNotImplementedWithoutTheHandler) {
  bool handler_called = false;
  OnCall([&](const MethodCall<>& /*call*/, std::unique_ptr<MethodResult<>> result) {
    handler_called = true;
    result->Success();
  });
  testing::internal::CaptureStderr();
  // An integer where the method name belongs.
  const standin::Delivery delivery = Deliver("03 01 00 00 00");
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Invalid method call; method name is not a string.\n"
            "Unable to construct method call from message on channel test/channel\n");
  EXPECT_FALSE(handler_called);
  ASSERT_TRUE(delivery.reply.answered);
  EXPECT_TRUE(delivery.reply.null_data);
}

TEST_F(MethodReplyTest, ResultKeptByTheHandlerAnswersLater) {
  std::unique_ptr<MethodResult<>> kept;
  OnCall([&](const MethodCall<>& /*call*/, std::unique_ptr<MethodResult<>> result) {
    kept = std::move(result);
  });
  const standin::Delivery delivery = Deliver(kPingCall);
  EXPECT_FALSE(delivery.reply.answered);

  // From another thread, as a plugin finishing work in the background would.
  std::thread([&] { kept->Success(EncodableValue(true)); }).join();
  EXPECT_EQ(Hex(standin::ReplyTo(engine_, delivery.id).bytes), "00 01");
}

TEST_F(MethodReplyTest, LateReplyAfterTheEngineIsGoneIsDroppedSilently) {
  std::vector<std::unique_ptr<MethodResult<>>> kept;
  OnCall([&](const MethodCall<>& /*call*/, std::unique_ptr<MethodResult<>> result) {
    kept.push_back(std::move(result));
  });
  Deliver(kPingCall);
  Deliver(kPingCall);
  channel_.reset();
  registrar_.reset();
  controller_.reset();
  ASSERT_EQ(standin::GetCounts().live_engines, 0);
  // The pending replies keep the library's messenger object alive.
  EXPECT_EQ(standin::GetCounts().live_messengers, 1);

  testing::internal::CaptureStderr();
  kept[0]->Success(EncodableValue(true));
  std::thread([&] { kept[1]->Error("LATE", "too late"); }).join();
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  // Nothing reached the library: no response on a destroyed engine.
  EXPECT_EQ(standin::GetCounts().rejected_responses, 0);

  kept.clear();
  EXPECT_EQ(standin::GetCounts().live_messengers, 0);
}

TEST_F(MethodReplyTest, ReplyRacingTheEngineShutdownNeverReachesADestroyedEngine) {
  std::vector<std::unique_ptr<MethodResult<>>> kept;
  OnCall([&](const MethodCall<>& /*call*/, std::unique_ptr<MethodResult<>> result) {
    kept.push_back(std::move(result));
  });
  for (int i = 0; i < 200; ++i) {
    Deliver(kPingCall);
  }
  testing::internal::CaptureStderr();
  std::thread replier([&] {
    for (std::unique_ptr<MethodResult<>>& result : kept) {
      result->Success();
    }
  });
  channel_.reset();
  registrar_.reset();
  controller_.reset();
  replier.join();
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(standin::GetCounts().rejected_responses, 0);
  kept.clear();
  EXPECT_EQ(standin::GetCounts().live_messengers, 0);
}

}  // namespace
}  // namespace flutter
