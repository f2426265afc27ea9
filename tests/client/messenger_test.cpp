// Handler registration and sending on the binary messenger.

#include "embedding/binary_messenger_impl.h"
#include "tests/client/client_test_support.h"

namespace flutter {
namespace {

using MessengerTest = StandinTest;

MethodCallHandler<> AnswerWith(const std::string& text) {
  return [text](const MethodCall<>& /*call*/, std::unique_ptr<MethodResult<>> result) {
    result->Success(EncodableValue(text));
  };
}

TEST_F(MessengerTest, HandlersAreReplacedAndRemovedWhileTheOthersStayReachable) {
  std::vector<std::unique_ptr<MethodChannel<>>> channels;
  for (int i = 0; i < 20; ++i) {
    channels.push_back(Channel("test/" + std::to_string(i)));
    channels.back()->SetMethodCallHandler(AnswerWith(std::to_string(i % 10)));
  }
  channels[7]->SetMethodCallHandler(AnswerWith("B"));
  for (size_t i = 0; i < channels.size(); i += 2) {
    channels[i]->SetMethodCallHandler(nullptr);
  }
  EXPECT_EQ(Hex(Deliver("test/7").reply.bytes), "00 07 01 42");
  // "1": registered early, still found after the table grew and shrank.
  EXPECT_EQ(Hex(Deliver("test/1").reply.bytes), "00 07 01 31");
  EXPECT_FALSE(Deliver("test/8").handled);
}

TEST_F(MessengerTest, HandlerMayRemoveItselfWhileItRuns) {
  const std::string answer = "still here";
  channel_->SetMethodCallHandler(
      [this, answer](const MethodCall<>& /*call*/, std::unique_ptr<MethodResult<>> result) {
        channel_->SetMethodCallHandler(nullptr);
        // A capture of the handler just removed.
        result->Success(EncodableValue(answer));
      });
  EXPECT_EQ(Hex(Deliver("test/channel").reply.bytes), "00 07 0A 73 74 69 6C 6C 20 68 65 72 65");
  EXPECT_FALSE(Deliver("test/channel").handled);
}

TEST_F(MessengerTest, HandlersKeepTheirStateFromOneMessageToTheNext) {
  controller_->engine()->messenger()->SetMessageHandler(
      "test/raw", [count = uint8_t{0}](const uint8_t*, size_t, BinaryReply reply) mutable {
        ++count;
        reply(&count, 1);
      });
  channel_->SetMethodCallHandler(
      [count = int32_t{0}](const MethodCall<>& /*call*/, std::unique_ptr<MethodResult<>> result) mutable {
        result->Success(EncodableValue(++count));
      });
  std::vector<std::string> replies;
  for (int i = 0; i < 3; ++i) {
    replies.push_back(Hex(Deliver("test/raw", "00").reply.bytes) + " | " +
                      Hex(Deliver("test/channel").reply.bytes));
  }
  EXPECT_EQ(replies, (std::vector<std::string>{"01 | 00 03 01 00 00 00", "02 | 00 03 02 00 00 00",
                                               "03 | 00 03 03 00 00 00"}));
}

TEST_F(MessengerTest, HandlerMayReplaceItselfWhileItRunsAndTheNextMessageMeetsTheNewOne) {
  BinaryMessenger* messenger = controller_->engine()->messenger();
  const std::vector<uint8_t> first_answer = Bytes("00 07 05 66 69 72 73 74");
  messenger->SetMessageHandler(
      "test/raw", [messenger, first_answer](const uint8_t*, size_t, BinaryReply reply) {
        messenger->SetMessageHandler(
            "test/raw", [](const uint8_t*, size_t, BinaryReply later) { later(Bytes("00 01").data(), 2); });
        // A capture of the handler just replaced.
        reply(first_answer.data(), first_answer.size());
      });
  EXPECT_EQ(Hex(Deliver("test/raw", "00").reply.bytes), "00 07 05 66 69 72 73 74");
  EXPECT_EQ(Hex(Deliver("test/raw", "00").reply.bytes), "00 01");
}

TEST_F(MessengerTest, SendWithoutReplyGoesOutAndSendWithReplyGetsItsReplyOnceLater) {
  BinaryMessenger* messenger = controller_->engine()->messenger();
  const std::vector<uint8_t> message = Bytes("01 02 03");
  messenger->Send("host/events", message.data(), message.size());
  std::string replies;
  messenger->Send("host/question", message.data(), 1,
                  [&replies](const uint8_t*, size_t size) { replies += std::to_string(size) + " bytes;"; });
  std::vector<std::string> sent;
  for (const standin::HostMessage& host : standin::HostMessages(engine_)) {
    sent.push_back(host.channel + " " + Hex(host.message) + (host.with_reply ? ", reply wanted" : ""));
  }
  EXPECT_EQ(sent, (std::vector<std::string>{"host/events 01 02 03", "host/question 01, reply wanted"}));
  EXPECT_EQ(replies, "");
  standin::RunPendingReplies(engine_);
  standin::RunPendingReplies(engine_);
  EXPECT_EQ(replies, "0 bytes;");
}

TEST_F(MessengerTest, RefusedSendFreesItsReplyWithoutCallingIt) {
  // Held the way a pending reply holds it, so the handle outlives the engine.
  FlutterDesktopMessenger* handle = FlutterDesktopMessengerAddRef(FlutterDesktopEngineGetMessenger(engine_));
  controller_.reset();
  auto token = std::make_shared<int>(0);
  const std::weak_ptr<int> watch = token;
  bool called = false;
  BinaryMessengerImpl(handle).Send(
      "host/question", nullptr, 0,
      [token = std::move(token), &called](const uint8_t*, size_t) { called = true; });
  EXPECT_TRUE(watch.expired());
  EXPECT_FALSE(called);
  FlutterDesktopMessengerRelease(handle);
}

}  // namespace
}  // namespace flutter
