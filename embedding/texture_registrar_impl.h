#pragma once

#include <cstdint>
#include <functional>

#include "embedding/flutter_windows.h"
#include "embedding/texture_registrar.h"

namespace flutter {

// The TextureRegistrar over the engine library's texture registrar handle.
class TextureRegistrarImpl : public TextureRegistrar {
 public:
  // `texture_registrar` is not owned.
  explicit TextureRegistrarImpl(FlutterDesktopTextureRegistrar* texture_registrar);
  ~TextureRegistrarImpl() override;

  int64_t RegisterTexture(TextureVariant* texture) override;
  bool MarkTextureFrameAvailable(int64_t texture_id) override;
  bool UnregisterTexture(int64_t texture_id) override;
  void UnregisterTexture(int64_t texture_id, std::function<void()> callback) override;

 private:
  FlutterDesktopTextureRegistrar* texture_registrar_;
};

}  // namespace flutter
