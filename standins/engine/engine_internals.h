#pragma once

// The stand-in's objects behind the library's opaque handles, and the seam
// between the portable core and the window system of the build.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "embedding/flutter_windows.h"
#include "standins/engine/standin_engine.h"

namespace standin {

// What a build adds to an engine (the Windows build: the script runner).
class PlatformEngineData {
 public:
  virtual ~PlatformEngineData() = default;
};

// The window-system side of the stand-in. Natively nothing happens by itself;
// the Windows library paints real windows and posts its work to the
// platform thread.
class Platform {
 public:
  virtual ~Platform() = default;

  // False refuses the engine; the core then returns null.
  virtual bool AcceptEngine(const FlutterDesktopEngineProperties& properties) = 0;
  virtual std::unique_ptr<PlatformEngineData> EngineCreated(FlutterDesktopEngine& engine) = 0;
  // Before the engine's messenger becomes unavailable.
  virtual void EngineDestroying(FlutterDesktopEngine& engine) = 0;

  // Creates the view's window; false when that fails.
  virtual bool CreateView(FlutterDesktopViewController& controller, int width, int height) = 0;
  virtual void DestroyView(FlutterDesktopViewController& controller) = 0;

  // A frame was asked for.
  virtual void FrameRequested(FlutterDesktopEngine& engine) = 0;
  // A message sent with a reply waits for RunPendingReplies.
  virtual void ReplyQueued(FlutterDesktopEngine& engine) = 0;
  // The client sent a message to the engine.
  virtual void HostMessageSent(FlutterDesktopEngine& engine, const HostMessage& message) = 0;
  // The client answered a delivered message; may run on any thread.
  virtual void ResponseSent(uint64_t engine_serial, uint64_t delivery_id, const Reply& reply) = 0;

  virtual uint32_t DpiForMonitor(FlutterDesktopMonitorHandle monitor) = 0;

  // False: the engine gives no registrar for this plugin name.
  virtual bool OffersRegistrar(const std::string& plugin_name) = 0;

  // Something worth a transcript line happened ("misuse <function>",
  // "fonts reloaded"); may run on any thread.
  virtual void Note(const std::string& line) = 0;

  // The program asked that the library's output follow its standard streams.
  virtual void OutputStreamsResynced() = 0;
};

// The build's platform, defined once per build.
Platform& ThePlatform();

// Delivers like DeliverMessage; `before_callback` learns the delivery id
// before the channel's callback runs (it may answer at once).
Delivery DeliverMessageWatched(FlutterDesktopEngine* engine, const std::string& channel,
                               const std::vector<uint8_t>& message,
                               const std::function<void(uint64_t delivery_id)>& before_callback);

// Process-wide bookkeeping, shared by the library functions and the test
// control.
struct Registry {
  // Guards every field; taken briefly, never while client code runs.
  std::mutex mutex;
  Counts counts;
  bool refuse_engines = false;
  uint64_t next_engine_serial = 1;
  std::vector<FlutterDesktopEngine*> engines;
  std::vector<FlutterDesktopViewController*> controllers;
  FlutterDesktopEngine* last_engine = nullptr;
  EngineProperties last_properties;
  // Messengers with references left.
  std::vector<FlutterDesktopMessenger*> messengers;
  // Window messages the view controllers answer themselves, with the result.
  std::map<FlutterDesktopWindowMessage, FlutterDesktopLResult> answered_window_messages;

  // Destroyed engines and view controllers, and messengers after their last
  // release, are kept rather than freed: their addresses are never reused,
  // so a call with a stale handle is recognised as misuse instead of
  // reaching whatever object took the address.
  std::vector<FlutterDesktopEngine*> retired_engines;
  std::vector<FlutterDesktopViewController*> retired_controllers;
  std::vector<FlutterDesktopMessenger*> retired_messengers;
};
Registry& TheRegistry();

// Handle checks at the top of the library functions. A handle the stand-in
// no longer knows (destroyed, released, or never made) is false, and the call
// is misuse: counted, reported to the platform as "misuse <function>", and
// the function does nothing. A null handle is false too; for an engine, view
// controller or registrar, which the library dereferences, it is misuse.
bool CheckEngine(const FlutterDesktopEngine* engine, const char* function);
bool CheckController(const FlutterDesktopViewController* controller, const char* function);
bool CheckView(const FlutterDesktopView* view, const char* function);
bool CheckMessenger(const FlutterDesktopMessenger* messenger, const char* function);
bool CheckRegistrar(const FlutterDesktopPluginRegistrar* registrar, const char* function);
bool CheckTextureRegistrar(const FlutterDesktopTextureRegistrar* textures, const char* function);
void NoteMisuse(const char* function);

// The live engine with this serial number, or null.
FlutterDesktopEngine* FindEngine(uint64_t serial);
// Every live engine.
std::vector<FlutterDesktopEngine*> LiveEngines();

}  // namespace standin

struct FlutterDesktopMessageCallbackEntry {
  FlutterDesktopMessageCallback callback = nullptr;
  void* user_data = nullptr;
};

struct FlutterDesktopMessenger {
  // What FlutterDesktopMessengerLock holds. Recursive, so a reply running
  // under the lock may send a message of its own.
  std::recursive_mutex lock;

  // Guards everything below; never held while client code runs.
  std::mutex state_mutex;
  int references = 1;
  bool available = true;
  FlutterDesktopEngine* engine = nullptr;
  std::map<std::string, FlutterDesktopMessageCallbackEntry> callbacks;
  uint64_t next_delivery_id = 1;
  // Deliveries whose callback is still running or whose answer is still
  // owed, and the last kRememberedAnswers answered ones for ReplyTo. Older
  // answers are forgotten, so a long run does not grow without bound; a
  // response to a forgotten delivery is refused like any used handle.
  struct DeliveryRecord {
    // DeliverMessageWatched reads the answer when the callback returns.
    bool in_callback = true;
    standin::Reply reply;
  };
  std::map<uint64_t, DeliveryRecord> deliveries;
  // Answered deliveries whose callback has returned, oldest first.
  std::deque<uint64_t> remembered_answers;
};

struct FlutterDesktopPluginRegistrar {
  FlutterDesktopEngine* engine = nullptr;
  std::string plugin_name;
};

struct FlutterDesktopTextureRegistrar {
  struct Texture {
    FlutterDesktopTextureInfo info;
    int frames_available = 0;
  };
  std::map<int64_t, Texture> textures;
  int64_t next_id = 1;
};

struct FlutterDesktopView {
  FlutterDesktopViewController* controller = nullptr;
  FlutterDesktopWindowHandle window = nullptr;
};

struct FlutterDesktopViewController {
  FlutterDesktopEngine* engine = nullptr;
  FlutterDesktopView view;
  int width = 0;
  int height = 0;
};

struct FlutterDesktopEngine {
  uint64_t serial = 0;
  standin::EngineProperties properties;
  FlutterDesktopMessenger* messenger = nullptr;
  // Registrars live as long as the engine; one per plugin name.
  std::map<std::string, std::unique_ptr<FlutterDesktopPluginRegistrar>> registrars;
  FlutterDesktopTextureRegistrar textures;
  FlutterDesktopViewController* controller = nullptr;

  FlutterDesktopOnNextFrame next_frame_callback = nullptr;
  void* next_frame_user_data = nullptr;
  int frame_requests = 0;
  int frames_produced = 0;
  int font_reloads = 0;

  struct PendingReply {
    FlutterDesktopBinaryReply reply;
    void* user_data;
  };
  std::deque<PendingReply> pending_replies;
  std::vector<standin::HostMessage> host_messages;

  std::unique_ptr<standin::PlatformEngineData> platform_data;
};
