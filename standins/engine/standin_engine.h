#pragma once

// Test control of the engine-library stand-in.
//
// The stand-in exports the engine library's C functions (embedding/
// flutter_windows.h), so code under test links it in place of the real
// library. Tests drive the engine side through the functions below, always
// from the test's own thread, which plays the platform thread:
//
//   flutter::FlutterViewController controller(800, 600, flutter::ProjectBundle(L"data"));
//   FlutterDesktopEngine* engine = standin::LastEngine();
//   flutter::PluginRegistrarWindows registrar(controller.engine()->GetPluginRegistrar("tarvex/windows_vpn"));
//   ... register a MethodChannel handler on registrar.messenger() ...
//   standin::Delivery delivery = standin::DeliverMessage(engine, "tarvex/windows_vpn", {0x07, 0x01, 0x61,
//   0x00});
//   // delivery.handled: a callback was registered; delivery.reply: the answer
//   // as it stood when the handler returned; standin::ReplyTo(engine,
//   // delivery.id) for an answer that comes later.
//
// Natively, nothing happens by itself: frames come from ProduceFrame and the
// answers to messages the client sends (with a reply) from RunPendingReplies.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "embedding/flutter_windows.h"

namespace standin {

// Process-wide counts. Live counts follow the objects; the others count
// events since the last ResetCounts.
struct Counts {
  int engines_created = 0;
  int engines_destroyed = 0;
  int view_controllers_created = 0;
  int view_controllers_destroyed = 0;
  // Destruction calls with a handle that is already gone, or that is not the
  // caller's to destroy (an engine owned by a view controller).
  int invalid_destroy_calls = 0;
  // Calls with a handle the stand-in has destroyed (or never made), a null
  // engine, view controller or registrar, a messenger after its last
  // release, or a second destroy.
  int misuse_calls = 0;
  // Responses the stand-in refused: a handle used twice or unknown, or a
  // response after the engine had gone.
  int rejected_responses = 0;
  // Messenger functions called with a null messenger.
  int null_messenger_calls = 0;
  int output_stream_resyncs = 0;
  int live_engines = 0;
  int live_messengers = 0;
};
Counts GetCounts();
void ResetCounts();

// While set, FlutterDesktopEngineCreate returns null, as the library does for
// a bundle it cannot start from.
void RefuseEngines(bool refuse);

// From now on every view controller answers `message` itself with `result`:
// FlutterDesktopViewControllerHandleTopLevelWindowProc returns true with it.
void AnswerWindowMessage(FlutterDesktopWindowMessage message, FlutterDesktopLResult result);
// Leaves every window message to the window again.
void StopAnsweringWindowMessages();

// The plugin name `registrar` was obtained under, or null for a handle the
// stand-in does not know (misuse, as in the library functions).
const char* RegistrarPluginName(FlutterDesktopPluginRegistrar* registrar);

// The engine created last, or null when it is gone (or none was created).
FlutterDesktopEngine* LastEngine();

// The properties record of the last FlutterDesktopEngineCreate call, copied.
struct EngineProperties {
  std::wstring assets_path;
  std::wstring icu_data_path;
  std::wstring aot_library_path;
  bool entrypoint_was_null = false;
  std::string entrypoint;
  int argument_count = 0;
  bool argument_array_was_null = false;
  std::vector<std::string> arguments;
  int32_t engine_option_1 = 0;
  int32_t engine_option_2 = 0;
};
EngineProperties LastEngineProperties();

// The answer to one delivered message.
struct Reply {
  bool answered = false;
  // The response carried a null pointer (and a count of 0): "no reply data".
  bool null_data = false;
  std::vector<uint8_t> bytes;
};

struct Delivery {
  // Identifies the message for ReplyTo; 0 when nobody handled it.
  uint64_t id = 0;
  // A callback was registered for the channel.
  bool handled = false;
  // The answer as it stood when the callback returned.
  Reply reply;
};

// Delivers `message` to the callback registered for `channel` on the
// engine's messenger, as an incoming message, and returns when the callback
// has returned.
Delivery DeliverMessage(FlutterDesktopEngine* engine, const std::string& channel,
                        const std::vector<uint8_t>& message);

// How many answered deliveries the stand-in remembers for ReplyTo; it
// forgets the oldest beyond that, so a long run does not grow without bound.
// A message still waiting for its answer is never forgotten.
constexpr size_t kRememberedAnswers = 64;

// The answer to a delivered message as it stands now; unanswered for an id
// the stand-in has forgotten (see kRememberedAnswers) or never gave out.
Reply ReplyTo(FlutterDesktopEngine* engine, uint64_t delivery_id);

// Channels that have a callback registered.
std::vector<std::string> ChannelsWithCallback(FlutterDesktopEngine* engine);

// A message the client sent to the engine.
struct HostMessage {
  std::string channel;
  std::vector<uint8_t> message;
  bool with_reply = false;
};
std::vector<HostMessage> HostMessages(FlutterDesktopEngine* engine);

// Answers, with an empty reply, every message the client sent with a reply.
void RunPendingReplies(FlutterDesktopEngine* engine);

// Produces a frame: calls the stored next-frame callback, once.
void ProduceFrame(FlutterDesktopEngine* engine);
// Frames asked for (view controller creation, ForceRedraw) and produced.
int FrameRequests(FlutterDesktopEngine* engine);
int FramesProduced(FlutterDesktopEngine* engine);

int FontReloads(FlutterDesktopEngine* engine);

// Plugin names a registrar was asked for, in name order.
std::vector<std::string> RegistrarNames(FlutterDesktopEngine* engine);

// The size the engine's view was created with; zero without a view.
struct ViewSize {
  int width = 0;
  int height = 0;
};
ViewSize ViewSizeOf(FlutterDesktopEngine* engine);

// The texture record as registered, or nothing for an unknown id.
std::optional<FlutterDesktopTextureInfo> RegisteredTexture(FlutterDesktopTextureRegistrar* textures,
                                                           int64_t texture_id);
size_t RegisteredTextureCount(FlutterDesktopTextureRegistrar* textures);
int FramesMarkedAvailable(FlutterDesktopTextureRegistrar* textures, int64_t texture_id);

}  // namespace standin
