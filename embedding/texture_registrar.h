#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <utility>
#include <variant>

#include "embedding/flutter_windows.h"

namespace flutter {

// A texture whose pixels the engine copies out of a buffer the plugin fills.
class PixelBufferTexture {
 public:
  // Given the size the engine wants, returns the buffer to copy from.
  using CopyBufferCallback = std::function<const FlutterDesktopPixelBuffer*(size_t width, size_t height)>;

  explicit PixelBufferTexture(CopyBufferCallback copy_buffer) : copy_buffer_(std::move(copy_buffer)) {}

  const FlutterDesktopPixelBuffer* CopyPixelBuffer(size_t width, size_t height) const {
    return copy_buffer_(width, height);
  }

 private:
  CopyBufferCallback copy_buffer_;
};

// A texture backed by a GPU surface the plugin describes.
class GpuSurfaceTexture {
 public:
  // Given the size the engine wants, returns the surface to draw from.
  using ObtainDescriptorCallback =
      std::function<const FlutterDesktopGpuSurfaceDescriptor*(size_t width, size_t height)>;

  GpuSurfaceTexture(int32_t surface_type, ObtainDescriptorCallback obtain_descriptor)
      : surface_type_(surface_type), obtain_descriptor_(std::move(obtain_descriptor)) {}

  int32_t surface_type() const { return surface_type_; }

  const FlutterDesktopGpuSurfaceDescriptor* ObtainDescriptor(size_t width, size_t height) const {
    return obtain_descriptor_(width, height);
  }

 private:
  int32_t surface_type_;
  ObtainDescriptorCallback obtain_descriptor_;
};

// The kinds of texture a plugin can register; the index is the kind the
// engine library is told.
using TextureVariant = std::variant<PixelBufferTexture, GpuSurfaceTexture>;

// Registers external textures with the engine.
class TextureRegistrar {
 public:
  TextureRegistrar() = default;
  virtual ~TextureRegistrar() = default;

  TextureRegistrar(const TextureRegistrar&) = delete;
  TextureRegistrar& operator=(const TextureRegistrar&) = delete;

  // The texture's id, or -1 when `texture` holds nothing this registrar
  // knows. The texture must stay alive until it is unregistered: the engine
  // calls back into it.
  virtual int64_t RegisterTexture(TextureVariant* texture) = 0;

  // Tells the engine that a new frame of the texture is ready.
  virtual bool MarkTextureFrameAvailable(int64_t texture_id) = 0;

  // Unregisters the texture; always true, whatever the engine says.
  virtual bool UnregisterTexture(int64_t texture_id) = 0;

  // Unregisters the texture; `callback`, when given, runs once the engine has
  // let go of it.
  virtual void UnregisterTexture(int64_t texture_id, std::function<void()> callback) = 0;
};

}  // namespace flutter
