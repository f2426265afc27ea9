// The engine library's C functions, as the stand-in implements them: a
// messenger with per-channel callbacks and use-once response handles,
// registrars per plugin name, texture bookkeeping and a next-frame callback.
// The window system is behind ThePlatform().

#include <algorithm>
#include <cstring>
#include <iostream>
#include <mutex>
#include <string>
#include <utility>

#include "embedding/flutter_windows.h"
#include "standins/engine/engine_internals.h"

namespace standin {

Registry& TheRegistry() {
  static Registry* registry = new Registry();
  return *registry;
}

FlutterDesktopEngine* FindEngine(uint64_t serial) {
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> guard(registry.mutex);
  for (FlutterDesktopEngine* engine : registry.engines) {
    if (engine->serial == serial) {
      return engine;
    }
  }
  return nullptr;
}

std::vector<FlutterDesktopEngine*> LiveEngines() {
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> guard(registry.mutex);
  return registry.engines;
}

namespace {

// Response handles are delivery numbers dressed as pointers: never
// dereferenced and never reused, so a stale handle cannot alias a newer
// message.
const FlutterDesktopMessageResponseHandle* HandleFor(uint64_t delivery_id) {
  return reinterpret_cast<const FlutterDesktopMessageResponseHandle*>(  // NOLINT(performance-no-int-to-ptr)
      static_cast<uintptr_t>(delivery_id));
}

uint64_t DeliveryIdOf(const FlutterDesktopMessageResponseHandle* handle) {
  return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(handle));
}

template <typename T>
void Remove(std::vector<T*>& items, const T* item) {
  items.erase(std::remove(items.begin(), items.end(), item), items.end());
}

EngineProperties CopyProperties(const FlutterDesktopEngineProperties& properties) {
  EngineProperties copy;
  copy.assets_path = properties.assets_path ? properties.assets_path : L"";
  copy.icu_data_path = properties.icu_data_path ? properties.icu_data_path : L"";
  copy.aot_library_path = properties.aot_library_path ? properties.aot_library_path : L"";
  copy.entrypoint_was_null = properties.dart_entrypoint == nullptr;
  copy.entrypoint = properties.dart_entrypoint ? properties.dart_entrypoint : "";
  copy.argument_count = properties.dart_entrypoint_argc;
  copy.argument_array_was_null = properties.dart_entrypoint_argv == nullptr;
  if (properties.dart_entrypoint_argv != nullptr) {
    for (int i = 0; i < properties.dart_entrypoint_argc; ++i) {
      const char* argument = properties.dart_entrypoint_argv[i];
      copy.arguments.push_back(argument ? argument : "");
    }
  }
  copy.engine_option_1 = properties.engine_option_1;
  copy.engine_option_2 = properties.engine_option_2;
  return copy;
}

// With the messenger's state mutex held: the delivery is answered and its
// callback has returned, so only ReplyTo may still ask for it.
void RememberAnswer(FlutterDesktopMessenger& messenger, uint64_t delivery_id) {
  messenger.remembered_answers.push_back(delivery_id);
  if (messenger.remembered_answers.size() > kRememberedAnswers) {
    messenger.deliveries.erase(messenger.remembered_answers.front());
    messenger.remembered_answers.pop_front();
  }
}

void CountInvalidDestroy() {
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> guard(registry.mutex);
  ++registry.counts.invalid_destroy_calls;
}

void DestroyEngine(FlutterDesktopEngine* engine) {
  ThePlatform().EngineDestroying(*engine);
  FlutterDesktopMessenger* messenger = engine->messenger;
  {
    // Waits for a reply that holds the lock: while it is held the engine
    // cannot go away.
    std::lock_guard<std::recursive_mutex> lock(messenger->lock);
    std::lock_guard<std::mutex> guard(messenger->state_mutex);
    messenger->available = false;
    messenger->engine = nullptr;
    messenger->callbacks.clear();
  }
  {
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> guard(registry.mutex);
    Remove(registry.engines, engine);
    registry.retired_engines.push_back(engine);
    if (registry.last_engine == engine) {
      registry.last_engine = nullptr;
    }
    ++registry.counts.engines_destroyed;
    --registry.counts.live_engines;
  }
  // Every message sent with a reply gets its one call, even now: the sender
  // frees what it keeps for the reply only then.
  std::deque<FlutterDesktopEngine::PendingReply> pending = std::move(engine->pending_replies);
  for (const FlutterDesktopEngine::PendingReply& reply : pending) {
    reply.reply(nullptr, 0, reply.user_data);
  }
  FlutterDesktopMessengerRelease(messenger);
  // Retired, not freed: see Registry.
  engine->platform_data.reset();
  engine->host_messages.clear();
}

}  // namespace

Delivery DeliverMessageWatched(FlutterDesktopEngine* engine, const std::string& channel,
                               const std::vector<uint8_t>& message,
                               const std::function<void(uint64_t delivery_id)>& before_callback) {
  Delivery delivery;
  if (engine == nullptr) {
    return delivery;
  }
  FlutterDesktopMessenger* messenger = engine->messenger;
  FlutterDesktopMessageCallbackEntry entry;
  {
    std::lock_guard<std::mutex> guard(messenger->state_mutex);
    auto found = messenger->callbacks.find(channel);
    if (!messenger->available || found == messenger->callbacks.end()) {
      return delivery;
    }
    entry = found->second;
    delivery.id = messenger->next_delivery_id++;
    messenger->deliveries.emplace(delivery.id, FlutterDesktopMessenger::DeliveryRecord());
  }
  delivery.handled = true;
  if (before_callback) {
    before_callback(delivery.id);
  }
  // The callback may end the engine; the messenger stays readable.
  FlutterDesktopMessengerAddRef(messenger);
  FlutterDesktopMessage incoming = {};
  incoming.message = message.empty() ? nullptr : message.data();
  incoming.message_size = message.size();
  incoming.response_handle = HandleFor(delivery.id);
  incoming.channel = channel.c_str();
  entry.callback(messenger, &incoming, entry.user_data);
  {
    std::lock_guard<std::mutex> guard(messenger->state_mutex);
    FlutterDesktopMessenger::DeliveryRecord& record = messenger->deliveries.at(delivery.id);
    record.in_callback = false;
    delivery.reply = record.reply;
    if (delivery.reply.answered) {
      RememberAnswer(*messenger, delivery.id);
    }
  }
  FlutterDesktopMessengerRelease(messenger);
  return delivery;
}

}  // namespace standin

using standin::Registry;
using standin::ThePlatform;
using standin::TheRegistry;

// Engine.

FlutterDesktopEngine* FlutterDesktopEngineCreate(const FlutterDesktopEngineProperties* engine_properties) {
  if (engine_properties == nullptr) {
    return nullptr;
  }
  Registry& registry = TheRegistry();
  bool refused = false;
  {
    std::lock_guard<std::mutex> guard(registry.mutex);
    registry.last_properties = standin::CopyProperties(*engine_properties);
    refused = registry.refuse_engines;
  }
  if (refused || !ThePlatform().AcceptEngine(*engine_properties)) {
    return nullptr;
  }
  auto* engine = new FlutterDesktopEngine();
  engine->properties = standin::CopyProperties(*engine_properties);
  engine->messenger = new FlutterDesktopMessenger();
  engine->messenger->engine = engine;
  {
    std::lock_guard<std::mutex> guard(registry.mutex);
    engine->serial = registry.next_engine_serial++;
    registry.engines.push_back(engine);
    registry.messengers.push_back(engine->messenger);
    registry.last_engine = engine;
    ++registry.counts.engines_created;
    ++registry.counts.live_engines;
    ++registry.counts.live_messengers;
  }
  engine->platform_data = ThePlatform().EngineCreated(*engine);
  return engine;
}

bool FlutterDesktopEngineDestroy(FlutterDesktopEngine* engine) {
  if (!standin::CheckEngine(engine, __func__)) {
    standin::CountInvalidDestroy();
    return false;
  }
  if (engine->controller != nullptr) {
    // Not the caller's to destroy: the view controller ends it.
    standin::CountInvalidDestroy();
    standin::NoteMisuse(__func__);
    return false;
  }
  standin::DestroyEngine(engine);
  return true;
}

FlutterDesktopMessenger* FlutterDesktopEngineGetMessenger(FlutterDesktopEngine* engine) {
  return standin::CheckEngine(engine, __func__) ? engine->messenger : nullptr;
}

FlutterDesktopPluginRegistrar* FlutterDesktopEngineGetPluginRegistrar(FlutterDesktopEngine* engine,
                                                                      const char* plugin_name) {
  if (!standin::CheckEngine(engine, __func__) || plugin_name == nullptr) {
    return nullptr;
  }
  if (!ThePlatform().OffersRegistrar(plugin_name)) {
    return nullptr;
  }
  std::unique_ptr<FlutterDesktopPluginRegistrar>& registrar = engine->registrars[plugin_name];
  if (!registrar) {
    registrar = std::make_unique<FlutterDesktopPluginRegistrar>();
    registrar->engine = engine;
    registrar->plugin_name = plugin_name;
  }
  return registrar.get();
}

void FlutterDesktopEngineReloadSystemFonts(FlutterDesktopEngine* engine) {
  if (!standin::CheckEngine(engine, __func__)) {
    return;
  }
  ++engine->font_reloads;
  std::cerr << "tarvex stand-in engine: system fonts reloaded" << std::endl;
  ThePlatform().Note("fonts reloaded");
}

void FlutterDesktopEngineSetNextFrameCallback(FlutterDesktopEngine* engine,
                                              FlutterDesktopOnNextFrame callback, void* user_data) {
  if (!standin::CheckEngine(engine, __func__)) {
    return;
  }
  engine->next_frame_callback = callback;
  engine->next_frame_user_data = user_data;
}

// View controller and view.

FlutterDesktopViewController* FlutterDesktopViewControllerCreate(int width, int height,
                                                                 FlutterDesktopEngine* engine) {
  if (!standin::CheckEngine(engine, __func__)) {
    return nullptr;
  }
  if (engine->controller != nullptr) {
    // The engine was handed over before.
    standin::NoteMisuse(__func__);
    return nullptr;
  }
  auto* controller = new FlutterDesktopViewController();
  controller->engine = engine;
  controller->view.controller = controller;
  controller->width = width;
  controller->height = height;
  if (!ThePlatform().CreateView(*controller, width, height)) {
    // The engine was handed over with the call: it ends with the refusal.
    delete controller;
    standin::DestroyEngine(engine);
    return nullptr;
  }
  engine->controller = controller;
  {
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> guard(registry.mutex);
    registry.controllers.push_back(controller);
    ++registry.counts.view_controllers_created;
  }
  // The engine starts with the view controller and draws its first frame.
  ++engine->frame_requests;
  ThePlatform().FrameRequested(*engine);
  return controller;
}

void FlutterDesktopViewControllerDestroy(FlutterDesktopViewController* controller) {
  if (!standin::CheckController(controller, __func__)) {
    standin::CountInvalidDestroy();
    return;
  }
  {
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> guard(registry.mutex);
    standin::Remove(registry.controllers, controller);
    registry.retired_controllers.push_back(controller);
    ++registry.counts.view_controllers_destroyed;
  }
  FlutterDesktopEngine* engine = controller->engine;
  engine->controller = nullptr;
  standin::DestroyEngine(engine);
  ThePlatform().DestroyView(*controller);
}

FlutterDesktopView* FlutterDesktopViewControllerGetView(FlutterDesktopViewController* controller) {
  return standin::CheckController(controller, __func__) ? &controller->view : nullptr;
}

void FlutterDesktopViewControllerForceRedraw(FlutterDesktopViewController* controller) {
  if (!standin::CheckController(controller, __func__)) {
    return;
  }
  ++controller->engine->frame_requests;
  ThePlatform().FrameRequested(*controller->engine);
}

bool FlutterDesktopViewControllerHandleTopLevelWindowProc(FlutterDesktopViewController* controller,
                                                          FlutterDesktopWindowHandle window,
                                                          FlutterDesktopWindowMessage message,
                                                          FlutterDesktopWParam wparam,
                                                          FlutterDesktopLParam lparam,
                                                          FlutterDesktopLResult* result) {
  if (!standin::CheckController(controller, __func__) || result == nullptr) {
    return false;
  }
  // Only the messages a test asked for; everything else is the window's.
  {
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> guard(registry.mutex);
    auto found = registry.answered_window_messages.find(message);
    if (found == registry.answered_window_messages.end()) {
      return false;
    }
    *result = found->second;
  }
  ThePlatform().Note("answered " + std::to_string(message) + " " + std::to_string(wparam) + " " +
                     std::to_string(lparam) + " window " +
                     std::to_string(reinterpret_cast<uintptr_t>(window)));
  return true;
}

FlutterDesktopWindowHandle FlutterDesktopViewGetHWND(FlutterDesktopView* view) {
  return standin::CheckView(view, __func__) ? view->window : nullptr;
}

// Messenger.

namespace standin {
namespace {

// The library dereferences the messenger it is given; the stand-in reports a
// null one instead and counts it, so tests see that the client passed one.
bool IsNullMessenger(const FlutterDesktopMessenger* messenger, const char* function) {
  if (messenger != nullptr) {
    return false;
  }
  std::cerr << "tarvex stand-in engine: " << function << ": null messenger" << std::endl;
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> guard(registry.mutex);
  ++registry.counts.null_messenger_calls;
  return true;
}

// A messenger the library can work with: a null one is reported and counted,
// one after its last release is misuse.
bool UsableMessenger(const FlutterDesktopMessenger* messenger, const char* function) {
  return !IsNullMessenger(messenger, function) && CheckMessenger(messenger, function);
}

// Notes a message the host sent, as long as the engine is there to take it;
// the engine that took it, or null.
FlutterDesktopEngine* TakeHostMessage(FlutterDesktopMessenger* messenger, const char* channel,
                                      const uint8_t* message, size_t message_size, bool with_reply) {
  FlutterDesktopEngine* engine = nullptr;
  {
    std::lock_guard<std::mutex> guard(messenger->state_mutex);
    engine = messenger->available ? messenger->engine : nullptr;
  }
  if (engine == nullptr) {
    return nullptr;
  }
  HostMessage sent;
  sent.channel = channel;
  if (message != nullptr) {
    sent.message.assign(message, message + message_size);
  }
  sent.with_reply = with_reply;
  engine->host_messages.push_back(sent);
  ThePlatform().HostMessageSent(*engine, sent);
  return engine;
}

}  // namespace
}  // namespace standin

bool FlutterDesktopMessengerSend(FlutterDesktopMessenger* messenger, const char* channel,
                                 const uint8_t* message, size_t message_size) {
  if (!standin::UsableMessenger(messenger, __func__) || channel == nullptr) {
    return false;
  }
  std::lock_guard<std::recursive_mutex> lock(messenger->lock);
  return standin::TakeHostMessage(messenger, channel, message, message_size, false) != nullptr;
}

bool FlutterDesktopMessengerSendWithReply(FlutterDesktopMessenger* messenger, const char* channel,
                                          const uint8_t* message, size_t message_size,
                                          FlutterDesktopBinaryReply reply, void* user_data) {
  if (!standin::UsableMessenger(messenger, __func__) || channel == nullptr) {
    return false;
  }
  std::lock_guard<std::recursive_mutex> lock(messenger->lock);
  FlutterDesktopEngine* engine = standin::TakeHostMessage(messenger, channel, message, message_size, true);
  if (engine == nullptr) {
    return false;
  }
  if (reply != nullptr) {
    // Answered later on the platform thread, never inside this call.
    engine->pending_replies.push_back({reply, user_data});
    ThePlatform().ReplyQueued(*engine);
  }
  return true;
}

void FlutterDesktopMessengerSetCallback(FlutterDesktopMessenger* messenger, const char* channel,
                                        FlutterDesktopMessageCallback callback, void* user_data) {
  if (!standin::UsableMessenger(messenger, __func__) || channel == nullptr) {
    return;
  }
  std::lock_guard<std::mutex> guard(messenger->state_mutex);
  if (!messenger->available) {
    return;
  }
  if (callback == nullptr) {
    messenger->callbacks.erase(channel);
    return;
  }
  messenger->callbacks[channel] = {callback, user_data};
}

void FlutterDesktopMessengerSendResponse(FlutterDesktopMessenger* messenger,
                                         const FlutterDesktopMessageResponseHandle* handle,
                                         const uint8_t* data, size_t data_length) {
  if (!standin::UsableMessenger(messenger, __func__) || handle == nullptr) {
    return;
  }
  const uint64_t delivery_id = standin::DeliveryIdOf(handle);
  uint64_t engine_serial = 0;
  standin::Reply reply;
  bool accepted = false;
  {
    std::lock_guard<std::mutex> guard(messenger->state_mutex);
    auto found = messenger->deliveries.find(delivery_id);
    if (messenger->available && found != messenger->deliveries.end() && !found->second.reply.answered) {
      standin::Reply& answer = found->second.reply;
      answer.answered = true;
      answer.null_data = data == nullptr;
      if (data != nullptr) {
        answer.bytes.assign(data, data + data_length);
      }
      reply = answer;
      if (!found->second.in_callback) {
        standin::RememberAnswer(*messenger, delivery_id);
      }
      engine_serial = messenger->engine->serial;
      accepted = true;
    }
  }
  if (!accepted) {
    std::cerr << "tarvex stand-in engine: response refused: handle already used or unknown, or engine gone"
              << std::endl;
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> guard(registry.mutex);
    ++registry.counts.rejected_responses;
    return;
  }
  ThePlatform().ResponseSent(engine_serial, delivery_id, reply);
}

FlutterDesktopMessenger* FlutterDesktopMessengerAddRef(FlutterDesktopMessenger* messenger) {
  if (!standin::UsableMessenger(messenger, __func__)) {
    return nullptr;
  }
  std::lock_guard<std::mutex> guard(messenger->state_mutex);
  ++messenger->references;
  return messenger;
}

void FlutterDesktopMessengerRelease(FlutterDesktopMessenger* messenger) {
  if (!standin::UsableMessenger(messenger, __func__)) {
    return;
  }
  bool last = false;
  {
    std::lock_guard<std::mutex> guard(messenger->state_mutex);
    last = --messenger->references == 0;
    if (last) {
      messenger->callbacks.clear();
      messenger->deliveries.clear();
      messenger->remembered_answers.clear();
    }
  }
  if (!last) {
    return;
  }
  // Retired, not freed: see Registry.
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> guard(registry.mutex);
  standin::Remove(registry.messengers, messenger);
  registry.retired_messengers.push_back(messenger);
  --registry.counts.live_messengers;
}

FlutterDesktopMessenger* FlutterDesktopMessengerLock(FlutterDesktopMessenger* messenger) {
  if (!standin::UsableMessenger(messenger, __func__)) {
    return nullptr;
  }
  messenger->lock.lock();
  return messenger;
}

void FlutterDesktopMessengerUnlock(FlutterDesktopMessenger* messenger) {
  if (!standin::UsableMessenger(messenger, __func__)) {
    return;
  }
  messenger->lock.unlock();
}

bool FlutterDesktopMessengerIsAvailable(FlutterDesktopMessenger* messenger) {
  if (!standin::UsableMessenger(messenger, __func__)) {
    return false;
  }
  std::lock_guard<std::mutex> guard(messenger->state_mutex);
  return messenger->available;
}

// Plugin registrar and textures.

FlutterDesktopMessenger* FlutterDesktopPluginRegistrarGetMessenger(FlutterDesktopPluginRegistrar* registrar) {
  return standin::CheckRegistrar(registrar, __func__) ? registrar->engine->messenger : nullptr;
}

FlutterDesktopTextureRegistrar* FlutterDesktopRegistrarGetTextureRegistrar(
    FlutterDesktopPluginRegistrar* registrar) {
  return standin::CheckRegistrar(registrar, __func__) ? &registrar->engine->textures : nullptr;
}

FlutterDesktopView* FlutterDesktopPluginRegistrarGetView(FlutterDesktopPluginRegistrar* registrar) {
  if (!standin::CheckRegistrar(registrar, __func__) || registrar->engine->controller == nullptr) {
    return nullptr;
  }
  return &registrar->engine->controller->view;
}

int64_t FlutterDesktopTextureRegistrarRegisterExternalTexture(
    FlutterDesktopTextureRegistrar* texture_registrar, const FlutterDesktopTextureInfo* info) {
  if (!standin::CheckTextureRegistrar(texture_registrar, __func__) || info == nullptr) {
    return -1;
  }
  if (info->type != kFlutterDesktopPixelBufferTexture && info->type != kFlutterDesktopGpuSurfaceTexture) {
    return -1;
  }
  const int64_t texture_id = texture_registrar->next_id++;
  texture_registrar->textures[texture_id].info = *info;
  return texture_id;
}

void FlutterDesktopTextureRegistrarUnregisterExternalTexture(
    FlutterDesktopTextureRegistrar* texture_registrar, int64_t texture_id,
    FlutterDesktopOnTextureUnregistered callback, void* user_data) {
  if (!standin::CheckTextureRegistrar(texture_registrar, __func__)) {
    return;
  }
  if (texture_registrar->textures.erase(texture_id) == 0) {
    std::cerr << "tarvex stand-in engine: unregistering unknown texture " << texture_id << std::endl;
  }
  // Nothing draws from the texture here, so it is let go of at once; the
  // callback runs even for an unknown id, since the caller frees its
  // callback state there.
  if (callback != nullptr) {
    callback(user_data);
  }
}

bool FlutterDesktopTextureRegistrarMarkExternalTextureFrameAvailable(
    FlutterDesktopTextureRegistrar* texture_registrar, int64_t texture_id) {
  if (!standin::CheckTextureRegistrar(texture_registrar, __func__)) {
    return false;
  }
  auto found = texture_registrar->textures.find(texture_id);
  if (found == texture_registrar->textures.end()) {
    return false;
  }
  ++found->second.frames_available;
  return true;
}

// Host.

void FlutterDesktopResyncOutputStreams(void) {
  {
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> guard(registry.mutex);
    ++registry.counts.output_stream_resyncs;
  }
  std::cerr << "tarvex stand-in engine: output streams resynchronised" << std::endl;
  ThePlatform().OutputStreamsResynced();
}

uint32_t FlutterDesktopGetDpiForMonitor(FlutterDesktopMonitorHandle monitor) {
  return ThePlatform().DpiForMonitor(monitor);
}
