// Handler registration and sending on the binary messenger.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "embedding/binary_messenger_impl.h"
#include "embedding/flutter_view_controller.h"
#include "embedding/method_channel.h"
#include "embedding/project_bundle.h"
#include "embedding/standard_method_codec.h"
#include "standins/engine/standin_engine.h"
#include "tests/client/client_test_support.h"

namespace flutter {
namespace {

class MessengerTest : public StandinTest {
 protected:
  void SetUp() override {
    StandinTest::SetUp();
    controller_ = std::make_unique<FlutterViewController>(800, 600, ProjectBundle(L"data"));
    engine_ = standin::LastEngine();
  }
  void TearDown() override {
    controller_.reset();
    StandinTest::TearDown();
  }

  BinaryMessenger* messenger() { return controller_->engine()->messenger(); }

  // A method handler that answers with `tag`, a string.
  static MethodCallHandler<> AnswerWith(const std::string& tag) {
    return [tag](const MethodCall<>& /*call*/, std::unique_ptr<MethodResult<>> result) {
      result->Success(EncodableValue(tag));
    };
  }

  std::unique_ptr<FlutterViewController> controller_;
  FlutterDesktopEngine* engine_ = nullptr;
};

TEST_F(MessengerTest, SecondHandlerReplacesTheFirstAndEmptyRemovesIt) {
  MethodChannel<> channel(messenger(), "test/channel", &StandardMethodCodec::GetInstance());
  channel.SetMethodCallHandler(AnswerWith("A"));
  channel.SetMethodCallHandler(AnswerWith("B"));
  EXPECT_EQ(Hex(standin::DeliverMessage(engine_, "test/channel", Bytes(kPingCall)).reply.bytes),
            "00 07 01 42");
  EXPECT_EQ(standin::ChannelsWithCallback(engine_), std::vector<std::string>{"test/channel"});

  channel.SetMethodCallHandler(nullptr);
  EXPECT_TRUE(standin::ChannelsWithCallback(engine_).empty());
  EXPECT_FALSE(standin::DeliverMessage(engine_, "test/channel", Bytes(kPingCall)).handled);
}

TEST_F(MessengerTest, HandlersStayReachableWhileOthersAreAddedAndRemoved) {
  std::vector<std::unique_ptr<MethodChannel<>>> channels;
  for (int i = 0; i < 40; ++i) {
    channels.push_back(std::make_unique<MethodChannel<>>(messenger(), "test/" + std::to_string(i),
                                                         &StandardMethodCodec::GetInstance()));
    channels.back()->SetMethodCallHandler(AnswerWith(std::to_string(i % 10)));
  }
  for (int i = 0; i < 40; i += 2) {
    channels[static_cast<size_t>(i)]->SetMethodCallHandler(nullptr);
  }
  // "7" is 37 hex.
  EXPECT_EQ(Hex(standin::DeliverMessage(engine_, "test/17", Bytes(kPingCall)).reply.bytes), "00 07 01 37");
  EXPECT_FALSE(standin::DeliverMessage(engine_, "test/16", Bytes(kPingCall)).handled);
}

TEST_F(MessengerTest, HandlerMayRemoveItselfWhileItRuns) {
  MethodChannel<> channel(messenger(), "test/channel", &StandardMethodCodec::GetInstance());
  const std::string answer = "still here";
  channel.SetMethodCallHandler(
      [&channel, answer](const MethodCall<>& /*call*/, std::unique_ptr<MethodResult<>> result) {
        channel.SetMethodCallHandler(nullptr);
        // The captured text must survive the removal.
        result->Success(EncodableValue(answer));
      });
  const standin::Delivery delivery = standin::DeliverMessage(engine_, "test/channel", Bytes(kPingCall));
  EXPECT_EQ(Hex(delivery.reply.bytes), "00 07 0A 73 74 69 6C 6C 20 68 65 72 65");
  EXPECT_FALSE(standin::DeliverMessage(engine_, "test/channel", Bytes(kPingCall)).handled);
}

TEST_F(MessengerTest, SendWithoutReplyIsFireAndForget) {
  const std::vector<uint8_t> message = Bytes("01 02 03");
  messenger()->Send("host/events", message.data(), message.size());
  const std::vector<standin::HostMessage> sent = standin::HostMessages(engine_);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].channel, "host/events");
  EXPECT_EQ(Hex(sent[0].message), "01 02 03");
  EXPECT_FALSE(sent[0].with_reply);
}

TEST_F(MessengerTest, SendWithReplyGetsItsReplyOnceLater) {
  int calls = 0;
  size_t reply_size = 99;
  const std::vector<uint8_t> message = Bytes("0A");
  messenger()->Send("host/question", message.data(), message.size(),
                    [&](const uint8_t* /*reply*/, size_t size) {
                      ++calls;
                      reply_size = size;
                    });
  ASSERT_EQ(standin::HostMessages(engine_).size(), 1u);
  EXPECT_TRUE(standin::HostMessages(engine_)[0].with_reply);
  EXPECT_EQ(calls, 0);

  standin::RunPendingReplies(engine_);
  standin::RunPendingReplies(engine_);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(reply_size, 0u);
}

TEST_F(MessengerTest, RefusedSendFreesItsReplyWithoutCallingIt) {
  // Held the way a pending reply holds it, so the handle outlives the engine.
  FlutterDesktopMessenger* handle = FlutterDesktopMessengerAddRef(FlutterDesktopEngineGetMessenger(engine_));
  controller_.reset();
  BinaryMessengerImpl orphan(handle);

  auto token = std::make_shared<int>(0);
  std::weak_ptr<int> watch = token;
  bool called = false;
  const std::vector<uint8_t> message = Bytes("0A");
  orphan.Send("host/question", message.data(), message.size(),
              [token, &called](const uint8_t* /*reply*/, size_t /*size*/) { called = true; });
  token.reset();
  EXPECT_TRUE(watch.expired());
  EXPECT_FALSE(called);
  FlutterDesktopMessengerRelease(handle);
  EXPECT_EQ(standin::GetCounts().live_messengers, 0);
}

}  // namespace
}  // namespace flutter
