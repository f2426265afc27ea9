// The test-control functions of standin_engine.h.

#include <mutex>
#include <utility>

#include "standins/engine/engine_internals.h"
#include "standins/engine/standin_engine.h"

namespace standin {

Counts GetCounts() {
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> guard(registry.mutex);
  return registry.counts;
}

void ResetCounts() {
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> guard(registry.mutex);
  Counts fresh;
  fresh.live_engines = registry.counts.live_engines;
  fresh.live_messengers = registry.counts.live_messengers;
  registry.counts = fresh;
}

void RefuseEngines(bool refuse) {
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> guard(registry.mutex);
  registry.refuse_engines = refuse;
}

void AnswerWindowMessage(FlutterDesktopWindowMessage message, FlutterDesktopLResult result) {
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> guard(registry.mutex);
  registry.answered_window_messages[message] = result;
}

void StopAnsweringWindowMessages() {
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> guard(registry.mutex);
  registry.answered_window_messages.clear();
}

const char* RegistrarPluginName(FlutterDesktopPluginRegistrar* registrar) {
  return CheckRegistrar(registrar, "RegistrarPluginName") ? registrar->plugin_name.c_str() : nullptr;
}

FlutterDesktopEngine* LastEngine() {
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> guard(registry.mutex);
  return registry.last_engine;
}

EngineProperties LastEngineProperties() {
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> guard(registry.mutex);
  return registry.last_properties;
}

Delivery DeliverMessage(FlutterDesktopEngine* engine, const std::string& channel,
                        const std::vector<uint8_t>& message) {
  return DeliverMessageWatched(engine, channel, message, nullptr);
}

Reply ReplyTo(FlutterDesktopEngine* engine, uint64_t delivery_id) {
  if (engine == nullptr) {
    return {};
  }
  FlutterDesktopMessenger* messenger = engine->messenger;
  std::lock_guard<std::mutex> guard(messenger->state_mutex);
  auto found = messenger->deliveries.find(delivery_id);
  return found == messenger->deliveries.end() ? Reply() : found->second.reply;
}

std::vector<std::string> ChannelsWithCallback(FlutterDesktopEngine* engine) {
  std::vector<std::string> channels;
  if (engine == nullptr) {
    return channels;
  }
  FlutterDesktopMessenger* messenger = engine->messenger;
  std::lock_guard<std::mutex> guard(messenger->state_mutex);
  for (const auto& entry : messenger->callbacks) {
    channels.push_back(entry.first);
  }
  return channels;
}

std::vector<HostMessage> HostMessages(FlutterDesktopEngine* engine) {
  return engine ? engine->host_messages : std::vector<HostMessage>();
}

void RunPendingReplies(FlutterDesktopEngine* engine) {
  if (engine == nullptr) {
    return;
  }
  // Taken out first: a reply may send (and queue) again.
  std::deque<FlutterDesktopEngine::PendingReply> pending = std::move(engine->pending_replies);
  engine->pending_replies.clear();
  for (const FlutterDesktopEngine::PendingReply& reply : pending) {
    reply.reply(nullptr, 0, reply.user_data);
  }
}

void ProduceFrame(FlutterDesktopEngine* engine) {
  if (engine == nullptr) {
    return;
  }
  ++engine->frames_produced;
  if (engine->frame_requests > 0) {
    --engine->frame_requests;
  }
  FlutterDesktopOnNextFrame callback = engine->next_frame_callback;
  void* user_data = engine->next_frame_user_data;
  engine->next_frame_callback = nullptr;
  engine->next_frame_user_data = nullptr;
  if (callback != nullptr) {
    callback(user_data);
  }
}

int FrameRequests(FlutterDesktopEngine* engine) { return engine ? engine->frame_requests : 0; }

int FramesProduced(FlutterDesktopEngine* engine) { return engine ? engine->frames_produced : 0; }

int FontReloads(FlutterDesktopEngine* engine) { return engine ? engine->font_reloads : 0; }

std::vector<std::string> RegistrarNames(FlutterDesktopEngine* engine) {
  std::vector<std::string> names;
  if (engine == nullptr) {
    return names;
  }
  for (const auto& entry : engine->registrars) {
    names.push_back(entry.first);
  }
  return names;
}

ViewSize ViewSizeOf(FlutterDesktopEngine* engine) {
  if (engine == nullptr || engine->controller == nullptr) {
    return {};
  }
  return {engine->controller->width, engine->controller->height};
}

std::optional<FlutterDesktopTextureInfo> RegisteredTexture(FlutterDesktopTextureRegistrar* textures,
                                                           int64_t texture_id) {
  if (textures == nullptr) {
    return std::nullopt;
  }
  auto found = textures->textures.find(texture_id);
  if (found == textures->textures.end()) {
    return std::nullopt;
  }
  return found->second.info;
}

size_t RegisteredTextureCount(FlutterDesktopTextureRegistrar* textures) {
  return textures ? textures->textures.size() : 0;
}

int FramesMarkedAvailable(FlutterDesktopTextureRegistrar* textures, int64_t texture_id) {
  if (textures == nullptr) {
    return 0;
  }
  auto found = textures->textures.find(texture_id);
  return found == textures->textures.end() ? 0 : found->second.frames_available;
}

}  // namespace standin
