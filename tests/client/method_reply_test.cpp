// Replies to method calls, from the engine's bytes through the channel and
// the handler back to the reply bytes the engine receives.

#include <functional>
#include <stdexcept>
#include <thread>

#include "embedding/engine_method_result.h"
#include "tests/client/client_test_support.h"

namespace flutter {
namespace {

class MethodReplyTest : public StandinTest {
 protected:
  // Hands the result of every call on the channel to `handle`.
  void OnCall(std::function<void(std::unique_ptr<MethodResult<>>)> handle) {
    channel_->SetMethodCallHandler(
        [handle](const MethodCall<>& /*call*/, std::unique_ptr<MethodResult<>> result) {
          handle(std::move(result));
        });
  }
};

TEST_F(MethodReplyTest, AnyAnswerAfterSuccessSendsNothingAndIsReportedOnce) {
  const std::vector<std::function<void(MethodResult<>&)>> second_answers = {
      [](MethodResult<>& result) { result.Success(EncodableValue(false)); },
      [](MethodResult<>& result) { result.Error("E", "m"); },
      [](MethodResult<>& result) { result.NotImplemented(); },
  };
  for (size_t i = 0; i < second_answers.size(); ++i) {
    OnCall([&second_answer = second_answers[i]](auto result) {
      result->Success(EncodableValue(true));
      second_answer(*result);
    });
    testing::internal::CaptureStderr();
    EXPECT_EQ(Hex(Deliver("test/channel").reply.bytes), "00 01") << "case " << i;
    EXPECT_EQ(
        testing::internal::GetCapturedStderr(),
        "Error: Only one of Success, Error, or NotImplemented can be called, and it can be called exactly "
        "once. Ignoring duplicate result.\n")
        << "case " << i;
  }
}

TEST_F(MethodReplyTest, CopiedReplyAnswersOnceAndReportsTheCopy) {
  BinaryMessenger* messenger = controller_->engine()->messenger();
  messenger->SetMessageHandler("test/raw", [](const uint8_t*, size_t, BinaryReply reply) {
    BinaryReply copy = reply;
    reply(Bytes("00 01").data(), 2);
    copy(Bytes("00 02").data(), 2);
  });
  testing::internal::CaptureStderr();
  EXPECT_EQ(Hex(Deliver("test/raw", "00").reply.bytes), "00 01");
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Error: Response can be set only once. Ignoring duplicate response.\n");
}

TEST_F(MethodReplyTest, DroppedResultWarnsAndSendsNothing) {
  OnCall([](auto /*result*/) {});
  testing::internal::CaptureStderr();
  EXPECT_FALSE(Deliver("test/channel").reply.answered);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Warning: Failed to respond to a message. This is a memory leak.\n");
}

TEST(EngineMethodResultTest, NotImplementedSendsNullAndZeroWhileSuccessWithoutOrWithNullSendsANullEnvelope) {
  std::vector<std::string> sent;
  const BinaryReply record = [&sent](const uint8_t* data, size_t size) {
    sent.push_back(data == nullptr ? "null " + std::to_string(size)
                                   : Hex(std::vector<uint8_t>(data, data + size)));
  };
  const StandardMethodCodec* codec = &StandardMethodCodec::GetInstance();
  EngineMethodResult<>(record, codec).NotImplemented();
  EngineMethodResult<>(record, codec).Success();
  EngineMethodResult<>(record, codec).Success(EncodableValue());
  EngineMethodResult<>(record, codec).Error("E");
  EXPECT_EQ(sent, (std::vector<std::string>{"null 0", "00 00", "00 00", "01 07 01 45 00 00"}));
}

// A reply that fails after it may have sent something is still the one
// answer: answering again after the exception must not send a second reply.
TEST(EngineMethodResultTest, AReplyThatThrowsIsStillTheOnlyAnswer) {
  int replies = 0;
  auto result = std::make_unique<EngineMethodResult<>>(
      [&replies](const uint8_t*, size_t) {
        ++replies;
        throw std::runtime_error("transport failed");
      },
      &StandardMethodCodec::GetInstance());
  EXPECT_THROW(result->Success(EncodableValue(true)), std::runtime_error);
  testing::internal::CaptureStderr();
  result->Error("E");
  result.reset();
  EXPECT_EQ(replies, 1);
  EXPECT_EQ(
      testing::internal::GetCapturedStderr(),
      "Error: Only one of Success, Error, or NotImplemented can be called, and it can be called exactly "
      "once. Ignoring duplicate result.\n");
}

TEST_F(MethodReplyTest, MessageThatIsNoMethodCallIsAnsweredNotImplementedWithoutTheHandler) {
  bool handler_called = false;
  OnCall([&handler_called](auto /*result*/) { handler_called = true; });
  testing::internal::CaptureStderr();
  // An integer where the method name belongs.
  const standin::Delivery delivery = Deliver("test/channel", "03 01 00 00 00");
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Invalid method call; method name is not a string.\n"
            "Unable to construct method call from message on channel test/channel\n");
  EXPECT_FALSE(handler_called);
  EXPECT_TRUE(delivery.reply.answered);
  EXPECT_TRUE(delivery.reply.null_data);
}

TEST_F(MethodReplyTest, KeptResultAnswersLaterAndSilentlyNotAtAllOnceTheEngineIsGone) {
  std::vector<std::unique_ptr<MethodResult<>>> kept;
  OnCall([&kept](auto result) { kept.push_back(std::move(result)); });
  const standin::Delivery first = Deliver("test/channel");
  Deliver("test/channel");
  Deliver("test/channel");
  // From another thread, as a plugin finishing work in the background would.
  std::thread([&kept] { kept[0]->Success(EncodableValue(true)); }).join();
  EXPECT_EQ(Hex(standin::ReplyTo(engine_, first.id).bytes), "00 01");

  controller_.reset();
  // The pending replies keep the library's messenger object alive.
  EXPECT_EQ(standin::GetCounts().live_messengers, 1);
  testing::internal::CaptureStderr();
  kept[1]->Success();
  std::thread([&kept] { kept[2]->Error("LATE"); }).join();
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(standin::GetCounts().rejected_responses, 0);
  kept.clear();
  EXPECT_EQ(standin::GetCounts().live_messengers, 0);
}

TEST_F(MethodReplyTest, StandinForgetsOldAnswersButNeverOneStillOwed) {
  std::unique_ptr<MethodResult<>> kept;
  OnCall([&kept](auto result) {
    if (!kept) {
      kept = std::move(result);
    } else {
      result->Success(EncodableValue(true));
    }
  });
  const standin::Delivery owed = Deliver("test/channel");
  const standin::Delivery oldest = Deliver("test/channel");
  EXPECT_TRUE(standin::ReplyTo(engine_, oldest.id).answered);
  standin::Delivery latest;
  for (size_t i = 0; i < standin::kRememberedAnswers; ++i) {
    latest = Deliver("test/channel");
  }
  EXPECT_FALSE(standin::ReplyTo(engine_, oldest.id).answered);
  EXPECT_EQ(Hex(standin::ReplyTo(engine_, latest.id).bytes), "00 01");

  kept->Success(EncodableValue(false));
  EXPECT_EQ(Hex(standin::ReplyTo(engine_, owed.id).bytes), "00 02");
  EXPECT_EQ(standin::GetCounts().rejected_responses, 0);
}

}  // namespace
}  // namespace flutter
