// The binary messenger and method replies: from the engine's bytes through
// the channel and the handler back to the reply bytes the engine receives.

#include <stdexcept>
#include <thread>

#include "embedding/engine_method_result.h"
#include "embedding/plugin_registrar_windows.h"
#include "tests/client/client_test_support.h"

namespace flutter {
namespace {

constexpr char kDuplicateResult[] =
    "Error: Only one of Success, Error, or NotImplemented can be called, and it can be called exactly once. "
    "Ignoring duplicate result.\n";

using MessengerTest = StandinTest;

MethodCallHandler<> AnswerWith(const std::string& text) {
  return [text](const MethodCall<>& /*call*/, std::unique_ptr<MethodResult<>> result) {
    result->Success(EncodableValue(text));
  };
}

// A handler may remove or replace itself while it runs: it is kept alive
// until it returns. Handlers keep their state from one message to the next,
// and the others stay reachable while the table grows and shrinks.
TEST_F(MessengerTest, HandlersAreReplacedAndRemovedEvenWhileTheyRunAndKeepTheirState) {
  std::vector<std::unique_ptr<MethodChannel<>>> channels;
  for (int i = 0; i < 20; ++i) {
    channels.push_back(Channel("test/" + std::to_string(i)));
    channels.back()->SetMethodCallHandler(AnswerWith(std::to_string(i % 10)));
  }
  channels[7]->SetMethodCallHandler(AnswerWith("B"));
  for (size_t i = 0; i < channels.size(); i += 2) {
    channels[i]->SetMethodCallHandler(nullptr);
  }
  EXPECT_EQ(Reply("test/7"), "00 07 01 42");
  // "1": registered early, still found after the table grew and shrank.
  EXPECT_EQ(Reply("test/1"), "00 07 01 31");
  EXPECT_FALSE(Deliver("test/8").handled);

  const std::string answer = "still here";
  channel_->SetMethodCallHandler(
      [this, answer](const MethodCall<>& /*call*/, std::unique_ptr<MethodResult<>> result) {
        channel_->SetMethodCallHandler(nullptr);
        result->Success(EncodableValue(answer));  // held by the handler just removed
      });
  EXPECT_EQ(Reply(), "00 07 0A 73 74 69 6C 6C 20 68 65 72 65");
  EXPECT_FALSE(Deliver().handled);

  const std::vector<uint8_t> first_answer = Bytes("00 07 05 66 69 72 73 74");
  messenger()->SetMessageHandler("test/raw", [this, first_answer](const uint8_t*, size_t, BinaryReply reply) {
    messenger()->SetMessageHandler("test/raw",
                                   [count = uint8_t{0}](const uint8_t*, size_t, BinaryReply later) mutable {
                                     ++count;
                                     later(&count, 1);
                                   });
    reply(first_answer.data(), first_answer.size());
  });
  EXPECT_EQ(Reply("test/raw", "00"), "00 07 05 66 69 72 73 74");
  EXPECT_EQ(Reply("test/raw", "00"), "01");
  EXPECT_EQ(Reply("test/raw", "00"), "02");
  channel_->SetMethodCallHandler(
      [count = int32_t{0}](const MethodCall<>& /*call*/, std::unique_ptr<MethodResult<>> result) mutable {
        result->Success(EncodableValue(++count));
      });
  EXPECT_EQ(Reply(), "00 03 01 00 00 00");
  EXPECT_EQ(Reply(), "00 03 02 00 00 00");
}

TEST_F(MessengerTest, SendWithoutReplyGoesOutAndSendWithReplyGetsItsReplyOnceLater) {
  const std::vector<uint8_t> message = Bytes("01 02 03");
  messenger()->Send("host/events", message.data(), message.size());
  std::string replies;
  messenger()->Send("host/question", message.data(), 1,
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

TEST_F(MessengerTest, RegistrarsMessengerOutlivesTheEngineReachingNothingAndLeavesNoCallbackBehind) {
  // Gone while the engine runs: the library keeps the address of each stored
  // handler, so the messenger must take its callbacks with it.
  {
    PluginRegistrarWindows registrar(controller_->engine()->GetPluginRegistrar("test"));
    MethodChannel<> channel(registrar.messenger(), "test/plugin", &StandardMethodCodec::GetInstance());
    channel.SetMethodCallHandler(AnswerWith(""));
    registrar.messenger()->SetMessageHandler("test/raw", [](const uint8_t*, size_t, BinaryReply) {});
    EXPECT_EQ(Reply("test/plugin"), "00 07 00");
  }
  EXPECT_EQ(standin::ChannelsWithCallback(engine_), std::vector<std::string>{});

  // Outliving the engine, as a plugin unregistering its channel at process exit.
  auto registrar =
      std::make_unique<PluginRegistrarWindows>(controller_->engine()->GetPluginRegistrar("test"));
  BinaryMessenger* messenger = registrar->messenger();
  MethodChannel<> channel(messenger, "test/plugin", &StandardMethodCodec::GetInstance());
  channel.SetMethodCallHandler(AnswerWith(""));
  controller_.reset();
  ASSERT_EQ(standin::GetCounts().live_messengers, 1) << "the registrar's messenger holds the library's";
  auto token = std::make_shared<int>(0);
  const std::weak_ptr<int> watch = token;
  bool replied = false;
  const uint8_t event[] = {0x01};
  EXPECT_EQ(Stderr([&] {
              messenger->Send("host/events", event, sizeof(event));
              messenger->Send(
                  "host/question", event, sizeof(event),
                  [token = std::move(token), &replied](const uint8_t*, size_t) { replied = true; });
              channel.SetMethodCallHandler(nullptr);
              channel.SetMethodCallHandler(AnswerWith(""));
              registrar.reset();
            }),
            "");
  EXPECT_FALSE(replied);
  EXPECT_TRUE(watch.expired());
  EXPECT_EQ(standin::GetCounts().live_messengers, 0);
}

TEST_F(MessengerTest, AnyAnswerAfterTheFirstSendsNothingAndIsReportedOnce) {
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
    EXPECT_EQ(Stderr([this] { EXPECT_EQ(Reply(), "00 01"); }), kDuplicateResult) << "case " << i;
  }
  // A copied binary reply answers once.
  messenger()->SetMessageHandler("test/raw", [](const uint8_t*, size_t, BinaryReply reply) {
    BinaryReply copy = reply;
    reply(Bytes("00 01").data(), 2);
    copy(Bytes("00 02").data(), 2);
  });
  EXPECT_EQ(Stderr([this] { EXPECT_EQ(Reply("test/raw", "00"), "00 01"); }),
            "Error: Response can be set only once. Ignoring duplicate response.\n");
  OnCall([](auto /*result*/) {});
  EXPECT_EQ(Stderr([this] { EXPECT_FALSE(Deliver().reply.answered); }),
            "Warning: Failed to respond to a message. This is a memory leak.\n");
  // An integer where the method name belongs: answered empty, without the handler.
  EXPECT_EQ(Stderr([this] {
              const standin::Delivery delivery = Deliver("test/channel", "03 01 00 00 00");
              EXPECT_TRUE(delivery.reply.answered && delivery.reply.null_data);
            }),
            "Invalid method call; method name is not a string.\n"
            "Unable to construct method call from message on channel test/channel\n");
}

TEST(EngineMethodResultTest, EnvelopesAndAReplyThatThrowsIsStillTheOnlyAnswer) {
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

  // A reply that fails after it may have sent something is still the one answer.
  auto result = std::make_unique<EngineMethodResult<>>(
      [&sent](const uint8_t*, size_t) {
        sent.push_back("thrown");
        throw std::runtime_error("transport failed");
      },
      codec);
  EXPECT_THROW(result->Success(EncodableValue(true)), std::runtime_error);
  EXPECT_EQ(Stderr([&result] {
              result->Error("E");
              result.reset();
            }),
            kDuplicateResult);
  EXPECT_EQ(sent.back() + " " + std::to_string(sent.size()), "thrown 5");
}

TEST_F(MessengerTest, KeptResultAnswersLaterAndSilentlyNotAtAllOnceTheEngineIsGone) {
  std::vector<std::unique_ptr<MethodResult<>>> kept;
  OnCall([&kept](auto result) { kept.push_back(std::move(result)); });
  const standin::Delivery first = Deliver();
  Deliver();
  Deliver();
  // From another thread, as a plugin finishing work in the background would.
  std::thread([&kept] { kept[0]->Success(EncodableValue(true)); }).join();
  EXPECT_EQ(Hex(standin::ReplyTo(engine_, first.id).bytes), "00 01");

  controller_.reset();
  // The pending replies keep the library's messenger object alive.
  EXPECT_EQ(standin::GetCounts().live_messengers, 1);
  EXPECT_EQ(Stderr([&kept] {
              kept[1]->Success();
              std::thread([&kept] { kept[2]->Error("LATE"); }).join();
            }),
            "");
  EXPECT_EQ(standin::GetCounts().rejected_responses, 0);
  kept.clear();
  EXPECT_EQ(standin::GetCounts().live_messengers, 0);
}

}  // namespace
}  // namespace flutter
