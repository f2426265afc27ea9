// The client layer over the engine library's stand-in (its core, linked in):
// the engine, view controller and registrars; the messenger and method
// replies, from the engine's bytes through the handler back to the reply
// bytes; and the stand-in's own watch on what no suite drives it to.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "embedding/engine_method_result.h"
#include "embedding/flutter_view_controller.h"
#include "embedding/method_channel.h"
#include "embedding/plugin_registrar_windows.h"
#include "embedding/standard_method_codec.h"
#include "standins/engine/script_commands.h"
#include "standins/engine/standin_engine.h"
#include "tests/support/hex_bytes.h"

namespace flutter {
namespace {

constexpr char kDuplicateResult[] =
    "Error: Only one of Success, Error, or NotImplemented can be called, and it can be called exactly once. "
    "Ignoring duplicate result.\n";

// What `run` printed on the standard error stream.
std::string Stderr(const std::function<void()>& run) {
  testing::internal::CaptureStderr();
  run();
  return testing::internal::GetCapturedStderr();
}

MethodCallHandler<> AnswerWith(const std::string& text) {
  return [text](const MethodCall<>&, std::unique_ptr<MethodResult<>> result) {
    result->Success(EncodableValue(text));
  };
}

// A running engine with a view and a method channel on it, from fresh counts.
class ClientTest : public ::testing::Test {
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

  std::unique_ptr<MethodChannel<>> Channel(const std::string& name, BinaryMessenger* messenger = nullptr) {
    return std::make_unique<MethodChannel<>>(messenger ? messenger : this->messenger(), name,
                                             &StandardMethodCodec::GetInstance());
  }

  // Hands the result of every call on the test channel to `handle`.
  void OnCall(std::function<void(std::unique_ptr<MethodResult<>>)> handle) {
    channel_->SetMethodCallHandler(
        [handle](const MethodCall<>&, std::unique_ptr<MethodResult<>> result) { handle(std::move(result)); });
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

TEST_F(ClientTest, WindowMessagesAndFramesComeBackFromTheLibrary) {
  standin::AnswerWindowMessage(0x0100, -42);
  EXPECT_EQ(controller_->HandleTopLevelWindowProc(nullptr, 0x0100, 1, 2),
            std::optional<FlutterDesktopLResult>(-42));
  EXPECT_FALSE(controller_->HandleTopLevelWindowProc(nullptr, 0x0101, 1, 2).has_value());
  // The next-frame callback runs once and may set the following one.
  std::string frames;
  FlutterEngine* engine = controller_->engine();
  engine->SetNextFrameCallback([&frames, engine] {
    frames += "first ";
    engine->SetNextFrameCallback([&frames] { frames += "second"; });
  });
  for (int frame = 0; frame < 3; ++frame) {
    standin::ProduceFrame(engine_);
  }
  EXPECT_EQ(frames, "first second");
}

TEST_F(ClientTest, ViewControllerDestroysItsEngineOnceAndAnEngineThatKeptItsOwnDestroysIt) {
  controller_.reset();
  { FlutterEngine kept(ProjectBundle(L"data")); }
  const standin::Counts c = standin::GetCounts();
  // Created, destroyed; view controllers destroyed, invalid destroy calls, messengers left.
  EXPECT_EQ(std::vector<int>({c.engines_created, c.engines_destroyed, c.view_controllers_destroyed,
                              c.invalid_destroy_calls, c.live_messengers}),
            std::vector<int>({2, 2, 1, 0, 0}));
}

// The library refused the engine: nothing may reach it with the null handles
// (TearDown counts misuse).
TEST_F(ClientTest, RefusedEngineLeavesNoViewOrRegistrarAndCallsNothingInTheLibrary) {
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

TEST_F(ClientTest, RegistrarsPluginsGoBeforeTheMessengerAndTheViewWhichIsTheControllers) {
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
}

// A handler may remove or replace itself while it runs: it is kept alive
// until it returns. Handlers keep their state from one message to the next,
// and the others stay reachable while the table grows and shrinks.
TEST_F(ClientTest, HandlersAreReplacedAndRemovedEvenWhileTheyRunAndKeepTheirState) {
  std::vector<std::unique_ptr<MethodChannel<>>> channels;
  for (int i = 0; i < 20; ++i) {
    channels.push_back(Channel("test/" + std::to_string(i)));
    channels.back()->SetMethodCallHandler(AnswerWith(i == 7 ? "B" : std::to_string(i % 10)));
  }
  for (size_t i = 0; i < channels.size(); i += 2) {
    channels[i]->SetMethodCallHandler(nullptr);
  }
  // "1": registered early, still found after the table grew and shrank.
  EXPECT_EQ(Reply("test/7") + ", " + Reply("test/1"), "00 07 01 42, 00 07 01 31");
  EXPECT_FALSE(Deliver("test/8").handled);

  const std::string answer = "still here";
  channel_->SetMethodCallHandler([this, answer](const MethodCall<>&, std::unique_ptr<MethodResult<>> result) {
    channel_->SetMethodCallHandler(nullptr);
    result->Success(EncodableValue(answer));  // held by the handler just removed
  });
  EXPECT_EQ(Reply(), "00 07 0A 73 74 69 6C 6C 20 68 65 72 65");
  EXPECT_FALSE(Deliver().handled);

  messenger()->SetMessageHandler("test/raw", [this, answer](const uint8_t*, size_t, BinaryReply reply) {
    messenger()->SetMessageHandler("test/raw",
                                   [count = uint8_t{0}](const uint8_t*, size_t, BinaryReply later) mutable {
                                     ++count;
                                     later(&count, 1);
                                   });
    reply(reinterpret_cast<const uint8_t*>(answer.data()), answer.size());
  });
  std::string replies;
  for (int i = 0; i < 3; ++i) {
    replies += Reply("test/raw", "00") + ";";
  }
  EXPECT_EQ(replies, "73 74 69 6C 6C 20 68 65 72 65;01;02;");
}

TEST_F(ClientTest, AnyAnswerAfterTheFirstSendsNothingAndIsReportedOnce) {
  const std::vector<std::function<void(MethodResult<>&)>> second_answers = {
      [](MethodResult<>& result) { result.Success(EncodableValue(false)); },
      [](MethodResult<>& result) { result.Error("E", "m"); },
      [](MethodResult<>& result) { result.NotImplemented(); },
  };
  for (const auto& second_answer : second_answers) {
    OnCall([&second_answer](auto result) {
      result->Success(EncodableValue(true));
      second_answer(*result);
    });
    EXPECT_EQ(Stderr([this] { EXPECT_EQ(Reply(), "00 01"); }), kDuplicateResult);
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

TEST(EngineMethodResultTest, NotImplementedIsAnEmptyReplyAndAReplyThatThrowsIsStillTheOnlyAnswer) {
  std::vector<std::string> sent;
  const StandardMethodCodec* codec = &StandardMethodCodec::GetInstance();
  EngineMethodResult<>(
      [&sent](const uint8_t* data, size_t size) {
        sent.push_back(data == nullptr ? "null " + std::to_string(size)
                                       : Hex(std::vector<uint8_t>(data, data + size)));
      },
      codec)
      .NotImplemented();
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
  EXPECT_EQ(sent, (std::vector<std::string>{"null 0", "thrown"}));
}

TEST_F(ClientTest, KeptResultAnswersLaterAndSilentlyNotAtAllOnceTheEngineIsGone) {
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
  kept.clear();
  EXPECT_EQ(standin::GetCounts().rejected_responses + standin::GetCounts().live_messengers, 0);
}

TEST_F(ClientTest, RegistrarsMessengerOutlivesTheEngineReachingNothingAndLeavesNoCallbackBehind) {
  // Gone while the engine runs: the library keeps the address of each stored
  // handler, so the messenger must take its callbacks with it.
  {
    PluginRegistrarWindows registrar(controller_->engine()->GetPluginRegistrar("test"));
    auto channel = Channel("test/plugin", registrar.messenger());
    channel->SetMethodCallHandler(AnswerWith(""));
    registrar.messenger()->SetMessageHandler("test/raw", [](const uint8_t*, size_t, BinaryReply) {});
    EXPECT_EQ(Reply("test/plugin"), "00 07 00");
  }
  EXPECT_EQ(standin::ChannelsWithCallback(engine_), std::vector<std::string>{});
  // Outliving the engine, as a plugin unregistering its channel at process exit.
  auto registrar =
      std::make_unique<PluginRegistrarWindows>(controller_->engine()->GetPluginRegistrar("test"));
  BinaryMessenger* messenger = registrar->messenger();
  auto channel = Channel("test/plugin", messenger);
  channel->SetMethodCallHandler(AnswerWith(""));
  controller_.reset();
  ASSERT_EQ(standin::GetCounts().live_messengers, 1) << "the registrar's messenger holds the library's";
  EXPECT_EQ(Stderr([&] {
              channel->SetMethodCallHandler(nullptr);
              channel->SetMethodCallHandler(AnswerWith(""));
              registrar.reset();
            }),
            "");
  EXPECT_EQ(standin::GetCounts().live_messengers, 0);
}

}  // namespace
}  // namespace flutter

namespace standin {
namespace {

TEST(EngineStandinTest, MalformedScriptLinesAreRefusedNeverTakenForAnotherCommand) {
  for (const char* line : {"send", "send a/b 0 7", "send a/b 070", "send a/b 69sC", "sleep 5s", "close now",
                           "dialogs cancel", "window report 1", "window resize 5", "window resize -5 5",
                           "window send 0x1g 0 0", "window send -6 1 0", "window open", "window",
                           "services \t \r", "process", "process report all", "notes x"}) {
    EXPECT_EQ(ParseScriptLine(line).kind, ScriptCommand::Kind::kError) << line;
  }
  EXPECT_EQ(ParseScriptLine("frobnicate 3").reason, "unknown command \"frobnicate\"");
  EXPECT_EQ(ParseScriptLine("window dpichanged -120 0 0 1 1").reason,
            "usage: window dpichanged <dpi> <left> <top> <right> <bottom>");
}

// Under Wine a use after free rarely crashes: the suites rely on each such
// call being counted and written as a "misuse" line.
TEST(EngineStandinTest, EveryCallWithAHandleThatIsGoneIsOneMisuseAndDoesNothing) {
  ResetCounts();
  FlutterDesktopEngineProperties properties = {};
  properties.assets_path = properties.icu_data_path = properties.aot_library_path = L"data";
  FlutterDesktopEngine* engine = FlutterDesktopEngineCreate(&properties);
  FlutterDesktopMessenger* messenger = FlutterDesktopEngineGetMessenger(engine);
  FlutterDesktopViewController* controller = FlutterDesktopViewControllerCreate(8, 6, engine);
  const uint8_t byte = 0;
  const std::vector<std::pair<std::string, std::function<void()>>> calls = {
      // Owned by the view controller: not the caller's to destroy.
      {"FlutterDesktopEngineDestroy", [&] { EXPECT_FALSE(FlutterDesktopEngineDestroy(engine)); }},
      {"", [&] { FlutterDesktopViewControllerDestroy(controller); }},
      {"FlutterDesktopViewControllerDestroy", [&] { FlutterDesktopViewControllerDestroy(controller); }},
      {"FlutterDesktopEngineGetPluginRegistrar",
       [&] { EXPECT_EQ(FlutterDesktopEngineGetPluginRegistrar(engine, "plugin"), nullptr); }},
      // The engine held the messenger's last reference.
      {"FlutterDesktopMessengerSend",
       [&] { EXPECT_FALSE(FlutterDesktopMessengerSend(messenger, "a/b", &byte, 1)); }},
  };
  for (const auto& [function, call] : calls) {
    const int before = GetCounts().misuse_calls;
    const std::string printed = flutter::Stderr(call);
    EXPECT_EQ(GetCounts().misuse_calls - before, function.empty() ? 0 : 1) << function;
    EXPECT_EQ(printed.find("misuse: " + function + " ") != std::string::npos, !function.empty()) << printed;
  }
  ResetCounts();
}

}  // namespace
}  // namespace standin
