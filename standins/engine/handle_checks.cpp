// Recognises calls with handles the stand-in no longer knows, and with null
// engine, view controller or registrar handles, which the library would
// dereference. Under Wine a use after free rarely crashes, so each such call
// is reported instead.

#include <algorithm>
#include <iostream>
#include <mutex>
#include <string>

#include "standins/engine/engine_internals.h"

namespace standin {

namespace {

template <typename T>
bool Contains(const std::vector<T*>& items, const T* item) {
  return std::find(items.begin(), items.end(), item) != items.end();
}

// True for a null handle (nothing to report) or a known one; the caller
// tells them apart.
template <typename Handle, typename IsKnown>
bool Check(const Handle* handle, const char* function, IsKnown is_known) {
  if (handle == nullptr) {
    return false;
  }
  bool known = false;
  {
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> guard(registry.mutex);
    known = is_known(registry);
  }
  if (!known) {
    NoteMisuse(function);
  }
  return known;
}

// False, and misuse, for a null handle of a kind the library dereferences.
bool NotNull(const void* handle, const char* function) {
  if (handle == nullptr) {
    NoteMisuse(function);
    return false;
  }
  return true;
}

}  // namespace

void NoteMisuse(const char* function) {
  std::cerr << "tarvex stand-in engine: misuse: " << function << " with a null handle or one that is gone"
            << std::endl;
  {
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> guard(registry.mutex);
    ++registry.counts.misuse_calls;
  }
  ThePlatform().Note(std::string("misuse ") + function);
}

bool CheckEngine(const FlutterDesktopEngine* engine, const char* function) {
  if (!NotNull(engine, function)) {
    return false;
  }
  return Check(engine, function,
               [engine](const Registry& registry) { return Contains(registry.engines, engine); });
}

bool CheckController(const FlutterDesktopViewController* controller, const char* function) {
  if (!NotNull(controller, function)) {
    return false;
  }
  return Check(controller, function,
               [controller](const Registry& registry) { return Contains(registry.controllers, controller); });
}

bool CheckView(const FlutterDesktopView* view, const char* function) {
  return Check(view, function, [view](const Registry& registry) {
    return std::any_of(
        registry.controllers.begin(), registry.controllers.end(),
        [view](const FlutterDesktopViewController* controller) { return &controller->view == view; });
  });
}

bool CheckMessenger(const FlutterDesktopMessenger* messenger, const char* function) {
  return Check(messenger, function,
               [messenger](const Registry& registry) { return Contains(registry.messengers, messenger); });
}

bool CheckRegistrar(const FlutterDesktopPluginRegistrar* registrar, const char* function) {
  if (!NotNull(registrar, function)) {
    return false;
  }
  // A registrar lives as long as its engine.
  return Check(registrar, function, [registrar](const Registry& registry) {
    return std::any_of(
        registry.engines.begin(), registry.engines.end(), [registrar](const FlutterDesktopEngine* engine) {
          return std::any_of(engine->registrars.begin(), engine->registrars.end(),
                             [registrar](const auto& entry) { return entry.second.get() == registrar; });
        });
  });
}

bool CheckTextureRegistrar(const FlutterDesktopTextureRegistrar* textures, const char* function) {
  return Check(textures, function, [textures](const Registry& registry) {
    return std::any_of(
        registry.engines.begin(), registry.engines.end(),
        [textures](const FlutterDesktopEngine* engine) { return &engine->textures == textures; });
  });
}

}  // namespace standin
