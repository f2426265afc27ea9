// The client layer over the engine library's stand-in (its core, linked in):
// from the engine's bytes through the handler back to the reply bytes; and
// what no suite drives the stand-in to: refused script lines, its misuse watch.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>
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
constexpr char kNotACall[] =
    "Invalid method call; method name is not a string.\n"
    "Unable to construct method call from message on channel test/channel\n";
constexpr char kPing[] = "07 04 70 69 6E 67 00";  // the call "ping" without arguments

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

  // Every engine and view controller is destroyed once, every messenger
  // object released, and no call uses a handle that is gone or null.
  void TearDown() override {
    channel_.reset();
    controller_.reset();
    const standin::Counts c = standin::GetCounts();
    EXPECT_EQ(
        std::vector<int>({c.engines_destroyed, c.view_controllers_destroyed, c.invalid_destroy_calls,
                          c.misuse_calls, c.null_messenger_calls, c.rejected_responses, c.live_messengers}),
        std::vector<int>({c.engines_created, c.view_controllers_created, 0, 0, 0, 0, 0}));
  }

  std::unique_ptr<MethodChannel<>> Channel(const std::string& name, BinaryMessenger* messenger = nullptr) {
    return std::make_unique<MethodChannel<>>(messenger ? messenger : this->messenger(), name,
                                             &StandardMethodCodec::GetInstance());
  }

  // Delivers bytes as the engine would.
  standin::Delivery Deliver(const std::string& channel = "test/channel", const std::string& hex = kPing) {
    return standin::DeliverMessage(engine_, channel, Bytes(hex));
  }
  std::string Reply(const std::string& channel = "test/channel", const std::string& hex = kPing) {
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
  for (int frame = 0; frame < 3; ++frame) standin::ProduceFrame(engine_);
  EXPECT_EQ(frames, "first second");
  FlutterEngine without_view(ProjectBundle(L"data"));  // destroys its own engine (TearDown counts)
}

// The library refused the engine: nothing may reach it with the null handles
// (TearDown counts misuse and calls with a null messenger).
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
  const uint8_t event[] = {0x01};
  messenger()->Send("host/events", event, sizeof(event));
  messenger()->SetMessageHandler("test/raw", [](const uint8_t*, size_t, BinaryReply) {});
  messenger()->SetMessageHandler("test/raw", nullptr);
}

// A handler may replace itself while it runs: it is kept alive until it
// returns. Handlers keep their state from one message to the next, and the
// others stay reachable while the table grows and shrinks.
TEST_F(ClientTest, HandlersAreReplacedEvenWhileTheyRunAndKeepTheirState) {
  std::vector<std::unique_ptr<MethodChannel<>>> channels;
  for (int i = 0; i < 20; ++i) {
    channels.push_back(Channel("test/" + std::to_string(i)));
    channels.back()->SetMethodCallHandler(AnswerWith(std::to_string(i)));
  }
  for (size_t i = 0; i < channels.size(); i += 2) channels[i]->SetMethodCallHandler(nullptr);
  // "1": registered early, still found after the table grew and shrank.
  EXPECT_EQ(Reply("test/1") + ", " + Reply("test/19"), "00 07 01 31, 00 07 02 31 39");
  EXPECT_FALSE(Deliver("test/8").handled);

  const std::string answer(16, 'x');  // on the heap, freed with a handler nobody holds
  channel_->SetMethodCallHandler([this, answer](const MethodCall<>&, std::unique_ptr<MethodResult<>> result) {
    channel_->SetMethodCallHandler(
        [count = int32_t{0}](const MethodCall<>&, std::unique_ptr<MethodResult<>> later) mutable {
          later->Success(EncodableValue(++count));
        });
    result->Success(EncodableValue(answer));  // held by the handler just replaced
  });
  std::string replies;
  for (int i = 0; i < 3; ++i) replies += Reply() + ";";
  EXPECT_EQ(replies,
            "00 07 10 78 78 78 78 78 78 78 78 78 78 78 78 78 78 78 78;00 03 01 00 00 00;00 03 02 00 00 00;");
}

TEST_F(ClientTest, EachCallIsAnsweredOnceAndAnyAnswerAfterTheFirstIsReportedNotSent) {
  using Answer = std::function<void(const MethodCall<>&, MethodResult<>&)>;
  const Answer yes = [](auto&, auto& result) { result.Success(EncodableValue(true)); };
  const Answer no = [](auto&, auto& result) { result.Success(EncodableValue(false)); };
  const Answer error = [](auto&, auto& result) { result.Error("E", "m"); };
  const Answer not_implemented = [](auto&, auto& result) { result.NotImplemented(); };
  // A decoded call always carries arguments.
  const Answer echo = [](const MethodCall<>& call, MethodResult<>& result) {
    result.Success(call.arguments() ? *call.arguments() : EncodableValue("none"));
  };
  // The handler's answers, the message, the reply ("none" or "empty") and what was printed.
  const std::vector<std::tuple<std::vector<Answer>, std::string, std::string, std::string>> rows = {
      {{yes, no}, kPing, "00 01", kDuplicateResult},
      {{yes, error}, kPing, "00 01", kDuplicateResult},
      {{yes, not_implemented}, kPing, "00 01", kDuplicateResult},
      {{not_implemented}, kPing, "empty", ""},
      {{}, kPing, "none", "Warning: Failed to respond to a message. This is a memory leak.\n"},
      // An integer where the method name belongs: answered empty, without the handler.
      {{yes}, "03 01 00 00 00", "empty", kNotACall},
      // Bytes after the arguments are ignored; missing ones read as null.
      {{echo}, "07 01 61 03 07 00 00 00 03", "00 03 07 00 00 00", ""},
      {{echo}, "07 01 61", "00 00", "Invalid read in StandardCodecByteStreamReader\n"},
  };
  for (const auto& [answers, message, reply, printed] : rows) {
    channel_->SetMethodCallHandler(
        [&answers = answers](const MethodCall<>& call, std::unique_ptr<MethodResult<>> result) {
          for (const Answer& answer : answers) answer(call, *result);
        });
    standin::Reply got;
    EXPECT_EQ(Stderr([&, &message = message] { got = Deliver("test/channel", message).reply; }), printed);
    EXPECT_EQ(!got.answered ? "none" : got.null_data ? "empty" : Hex(got.bytes), reply);
  }
  // A copied binary reply answers once.
  messenger()->SetMessageHandler("test/raw", [](const uint8_t*, size_t, BinaryReply reply) {
    BinaryReply copy = reply;
    reply(Bytes("00 01").data(), 2);
    copy(Bytes("00 02").data(), 2);
  });
  EXPECT_EQ(Stderr([this] { EXPECT_EQ(Reply("test/raw", "00"), "00 01"); }),
            "Error: Response can be set only once. Ignoring duplicate response.\n");
}

// A reply that fails after it may have sent something is still the one answer.
TEST(EngineMethodResultTest, AReplyThatThrowsIsStillTheOnlyAnswer) {
  int sent = 0;
  auto result = std::make_unique<EngineMethodResult<>>(
      [&sent](const uint8_t*, size_t) {
        ++sent;
        throw std::runtime_error("transport failed");
      },
      &StandardMethodCodec::GetInstance());
  EXPECT_THROW(result->Success(EncodableValue(true)), std::runtime_error);
  EXPECT_EQ(Stderr([&result] {
              result->Error("E");
              result.reset();
            }),
            kDuplicateResult);
  EXPECT_EQ(sent, 1);
}

TEST_F(ClientTest, KeptResultAnswersLaterAndSilentlyNotAtAllOnceTheEngineIsGone) {
  std::vector<std::unique_ptr<MethodResult<>>> kept;
  channel_->SetMethodCallHandler([&kept](const MethodCall<>&, std::unique_ptr<MethodResult<>> result) {
    kept.push_back(std::move(result));
  });
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
}

struct TeardownPlugin : Plugin {
  explicit TeardownPlugin(std::function<void()> run) : on_destroy(std::move(run)) {}
  ~TeardownPlugin() override { on_destroy(); }
  std::function<void()> on_destroy;
};

// A registrar destroys its plugins while its messenger and the view are still
// there, and its messenger takes its callbacks with it: the library keeps the
// address of each stored handler. Outliving the engine, as a plugin
// unregistering its channel at process exit, it reaches nothing.
TEST_F(ClientTest, RegistrarGoesPluginsFirstLeavesNoCallbackBehindAndOutlivesTheEngineReachingNothing) {
  std::string log;
  {
    PluginRegistrarWindows registrar(controller_->engine()->GetPluginRegistrar("test"));
    registrar.AddPlugin(std::make_unique<TeardownPlugin>([&] {
      log = std::string(registrar.messenger() ? "messenger" : "-") + (registrar.GetView() ? " view" : " -");
    }));
    auto channel = Channel("test/plugin", registrar.messenger());
    channel->SetMethodCallHandler(AnswerWith(""));
    EXPECT_EQ(Reply("test/plugin"), "00 07 00");
  }
  EXPECT_EQ(log, "messenger view");
  EXPECT_EQ(standin::ChannelsWithCallback(engine_), std::vector<std::string>{});
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
  const uint8_t byte = 0;
  const std::string printed = flutter::Stderr([&] {
    EXPECT_TRUE(FlutterDesktopEngineDestroy(engine));
    EXPECT_FALSE(FlutterDesktopEngineDestroy(engine));
    // The engine held the messenger's last reference.
    EXPECT_FALSE(FlutterDesktopMessengerSend(messenger, "a/b", &byte, 1));
  });
  EXPECT_EQ(GetCounts().misuse_calls, 2);
  const size_t first = printed.find("misuse: FlutterDesktopEngineDestroy ");
  EXPECT_NE(first, std::string::npos) << printed;
  EXPECT_NE(printed.find("misuse: FlutterDesktopMessengerSend ", first), std::string::npos) << printed;
  ResetCounts();
}

}  // namespace
}  // namespace standin
