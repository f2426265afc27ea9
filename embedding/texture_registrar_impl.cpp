#include "embedding/texture_registrar_impl.h"

#include <iostream>
#include <memory>
#include <utility>

namespace flutter {

namespace {

const FlutterDesktopPixelBuffer* CopyPixelBuffer(size_t width, size_t height, void* user_data) {
  return static_cast<const PixelBufferTexture*>(user_data)->CopyPixelBuffer(width, height);
}

const FlutterDesktopGpuSurfaceDescriptor* ObtainDescriptor(size_t width, size_t height, void* user_data) {
  return static_cast<const GpuSurfaceTexture*>(user_data)->ObtainDescriptor(width, height);
}

// Runs the callable kept on the heap for one unregistration, then frees it.
void OnTextureUnregistered(void* user_data) {
  std::unique_ptr<std::function<void()>> callback(static_cast<std::function<void()>*>(user_data));
  (*callback)();
}

}  // namespace

TextureRegistrarImpl::TextureRegistrarImpl(FlutterDesktopTextureRegistrar* texture_registrar)
    : texture_registrar_(texture_registrar) {}

TextureRegistrarImpl::~TextureRegistrarImpl() = default;

int64_t TextureRegistrarImpl::RegisterTexture(TextureVariant* texture) {
  FlutterDesktopTextureInfo info = {};
  if (texture != nullptr && std::holds_alternative<PixelBufferTexture>(*texture)) {
    info.type = kFlutterDesktopPixelBufferTexture;
    info.config.pixel_buffer_config.callback = CopyPixelBuffer;
    info.config.pixel_buffer_config.user_data = &std::get<PixelBufferTexture>(*texture);
  } else if (texture != nullptr && std::holds_alternative<GpuSurfaceTexture>(*texture)) {
    GpuSurfaceTexture& surface = std::get<GpuSurfaceTexture>(*texture);
    info.type = kFlutterDesktopGpuSurfaceTexture;
    info.config.gpu_surface_config.struct_size = sizeof(FlutterDesktopGpuSurfaceTextureConfig);
    info.config.gpu_surface_config.surface_type = surface.surface_type();
    info.config.gpu_surface_config.callback = ObtainDescriptor;
    info.config.gpu_surface_config.user_data = &surface;
  } else {
    // No texture, or a variant left without a value by a failed assignment.
    std::cerr << "Attempting to register unknown texture variant." << std::endl;
    return -1;
  }
  return FlutterDesktopTextureRegistrarRegisterExternalTexture(texture_registrar_, &info);
}

bool TextureRegistrarImpl::MarkTextureFrameAvailable(int64_t texture_id) {
  return FlutterDesktopTextureRegistrarMarkExternalTextureFrameAvailable(texture_registrar_, texture_id);
}

bool TextureRegistrarImpl::UnregisterTexture(int64_t texture_id) {
  UnregisterTexture(texture_id, nullptr);
  return true;
}

void TextureRegistrarImpl::UnregisterTexture(int64_t texture_id, std::function<void()> callback) {
  if (!callback) {
    FlutterDesktopTextureRegistrarUnregisterExternalTexture(texture_registrar_, texture_id, nullptr, nullptr);
    return;
  }
  // Freed by OnTextureUnregistered, which the library calls once.
  auto* held_callback = new std::function<void()>(std::move(callback));
  FlutterDesktopTextureRegistrarUnregisterExternalTexture(texture_registrar_, texture_id,
                                                          OnTextureUnregistered, held_callback);
}

}  // namespace flutter
