#pragma once

/* The C interface of the Flutter engine library (flutter_windows.dll) as this
 * program calls it: the twenty-nine functions the client layer and the host
 * use, and the records they pass. Every handle is an opaque pointer owned by
 * the library; strings are zero-terminated UTF-8, except the paths of the
 * engine properties, which are wide strings. */

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>
#include <wchar.h>

/* On Windows the functions are imported from the DLL; the library itself
 * defines FLUTTER_DESKTOP_BUILDING_LIBRARY to export them instead. */
#if defined(_WIN32) && defined(FLUTTER_DESKTOP_BUILDING_LIBRARY)
#define FLUTTER_DESKTOP_EXPORT __declspec(dllexport)
#elif defined(_WIN32)
#define FLUTTER_DESKTOP_EXPORT __declspec(dllimport)
#else
#define FLUTTER_DESKTOP_EXPORT
#endif

#if defined(__cplusplus)
extern "C" {
#endif

/* A C header: typedefs, and the Win32 handle tags HWND__ and HMONITOR__. */
/* NOLINTBEGIN(modernize-use-using, bugprone-reserved-identifier) */

/* Window-system types. They are spelled so that on Windows they are the
 * very Win32 types (HWND, HMONITOR, UINT, WPARAM, LPARAM, LRESULT) without
 * this header pulling in <windows.h> and its macros; elsewhere, where only
 * the portable code and its tests are built, they are opaque types of the
 * same width. */
typedef struct HWND__* FlutterDesktopWindowHandle;
typedef struct HMONITOR__* FlutterDesktopMonitorHandle;
typedef unsigned int FlutterDesktopWindowMessage;
typedef uintptr_t FlutterDesktopWParam;
typedef intptr_t FlutterDesktopLParam;
typedef intptr_t FlutterDesktopLResult;

/* Opaque handles. */
typedef struct FlutterDesktopEngine FlutterDesktopEngine;
typedef struct FlutterDesktopViewController FlutterDesktopViewController;
typedef struct FlutterDesktopView FlutterDesktopView;
typedef struct FlutterDesktopMessenger FlutterDesktopMessenger;
typedef struct FlutterDesktopPluginRegistrar FlutterDesktopPluginRegistrar;
typedef struct FlutterDesktopTextureRegistrar FlutterDesktopTextureRegistrar;
/* Identifies the pending answer to one incoming message; used up by the one
 * response sent with it. */
typedef struct FlutterDesktopMessageResponseHandle FlutterDesktopMessageResponseHandle;

/* What the engine is started from. The record only points into the caller's
 * storage, which must stay alive for the duration of the create call. */
typedef struct {
  const wchar_t* assets_path;
  const wchar_t* icu_data_path;
  const wchar_t* aot_library_path;
  /* Empty for the default entrypoint; never a null pointer. */
  const char* dart_entrypoint;
  int dart_entrypoint_argc;
  /* Null when the count is 0. */
  const char** dart_entrypoint_argv;
  int32_t engine_option_1;
  int32_t engine_option_2;
} FlutterDesktopEngineProperties;

/* One message arriving on a channel. */
typedef struct {
  const uint8_t* message;
  size_t message_size;
  const FlutterDesktopMessageResponseHandle* response_handle;
  const char* channel;
} FlutterDesktopMessage;

/* Called for each message arriving on a channel, on the platform thread. */
typedef void (*FlutterDesktopMessageCallback)(FlutterDesktopMessenger* messenger,
                                              const FlutterDesktopMessage* message, void* user_data);

/* Receives the answer to a message this side sent. */
typedef void (*FlutterDesktopBinaryReply)(const uint8_t* data, size_t data_size, void* user_data);

/* Called once, on the platform thread, after the next frame. */
typedef void (*FlutterDesktopOnNextFrame)(void* user_data);

/* Called once the library has let go of an unregistered texture. */
typedef void (*FlutterDesktopOnTextureUnregistered)(void* user_data);

/* Textures. The library owns the layouts of pixel buffers and surface
 * descriptors; this program only hands their addresses through. */
typedef struct FlutterDesktopPixelBuffer FlutterDesktopPixelBuffer;
typedef struct FlutterDesktopGpuSurfaceDescriptor FlutterDesktopGpuSurfaceDescriptor;

typedef const FlutterDesktopPixelBuffer* (*FlutterDesktopPixelBufferTextureCallback)(size_t width,
                                                                                     size_t height,
                                                                                     void* user_data);
typedef const FlutterDesktopGpuSurfaceDescriptor* (*FlutterDesktopGpuSurfaceTextureCallback)(size_t width,
                                                                                             size_t height,
                                                                                             void* user_data);

enum {
  kFlutterDesktopPixelBufferTexture = 0,
  kFlutterDesktopGpuSurfaceTexture = 1,
};

typedef struct {
  FlutterDesktopPixelBufferTextureCallback callback;
  void* user_data;
} FlutterDesktopPixelBufferTextureConfig;

typedef struct {
  /* The size of this record, so the library can tell record versions apart. */
  size_t struct_size;
  int32_t surface_type;
  FlutterDesktopGpuSurfaceTextureCallback callback;
  void* user_data;
} FlutterDesktopGpuSurfaceTextureConfig;

typedef struct {
  /* kFlutterDesktopPixelBufferTexture or kFlutterDesktopGpuSurfaceTexture;
   * selects the member of the configuration. */
  int32_t type;
  union {
    FlutterDesktopPixelBufferTextureConfig pixel_buffer_config;
    FlutterDesktopGpuSurfaceTextureConfig gpu_surface_config;
  } config;
} FlutterDesktopTextureInfo;

/* Engine. */
FLUTTER_DESKTOP_EXPORT FlutterDesktopEngine* FlutterDesktopEngineCreate(
    const FlutterDesktopEngineProperties* engine_properties);
FLUTTER_DESKTOP_EXPORT bool FlutterDesktopEngineDestroy(FlutterDesktopEngine* engine);
FLUTTER_DESKTOP_EXPORT FlutterDesktopMessenger* FlutterDesktopEngineGetMessenger(
    FlutterDesktopEngine* engine);
FLUTTER_DESKTOP_EXPORT FlutterDesktopPluginRegistrar* FlutterDesktopEngineGetPluginRegistrar(
    FlutterDesktopEngine* engine, const char* plugin_name);
FLUTTER_DESKTOP_EXPORT void FlutterDesktopEngineReloadSystemFonts(FlutterDesktopEngine* engine);
FLUTTER_DESKTOP_EXPORT void FlutterDesktopEngineSetNextFrameCallback(FlutterDesktopEngine* engine,
                                                                     FlutterDesktopOnNextFrame callback,
                                                                     void* user_data);

/* View controller and view. Creating the view controller takes the engine
 * over and starts it; destroying it ends the engine. */
FLUTTER_DESKTOP_EXPORT FlutterDesktopViewController* FlutterDesktopViewControllerCreate(
    int width, int height, FlutterDesktopEngine* engine);
FLUTTER_DESKTOP_EXPORT void FlutterDesktopViewControllerDestroy(FlutterDesktopViewController* controller);
FLUTTER_DESKTOP_EXPORT FlutterDesktopView* FlutterDesktopViewControllerGetView(
    FlutterDesktopViewController* controller);
FLUTTER_DESKTOP_EXPORT void FlutterDesktopViewControllerForceRedraw(FlutterDesktopViewController* controller);
/* True only when the library handled the message; `result` is then set. */
FLUTTER_DESKTOP_EXPORT bool FlutterDesktopViewControllerHandleTopLevelWindowProc(
    FlutterDesktopViewController* controller, FlutterDesktopWindowHandle window,
    FlutterDesktopWindowMessage message, FlutterDesktopWParam wparam, FlutterDesktopLParam lparam,
    FlutterDesktopLResult* result);
FLUTTER_DESKTOP_EXPORT FlutterDesktopWindowHandle FlutterDesktopViewGetHWND(FlutterDesktopView* view);

/* Messenger. */
FLUTTER_DESKTOP_EXPORT bool FlutterDesktopMessengerSend(FlutterDesktopMessenger* messenger,
                                                        const char* channel, const uint8_t* message,
                                                        size_t message_size);
/* False when the message was not sent; otherwise `reply` is called once. */
FLUTTER_DESKTOP_EXPORT bool FlutterDesktopMessengerSendWithReply(FlutterDesktopMessenger* messenger,
                                                                 const char* channel, const uint8_t* message,
                                                                 size_t message_size,
                                                                 FlutterDesktopBinaryReply reply,
                                                                 void* user_data);
/* A null callback removes the channel's callback. */
FLUTTER_DESKTOP_EXPORT void FlutterDesktopMessengerSetCallback(FlutterDesktopMessenger* messenger,
                                                               const char* channel,
                                                               FlutterDesktopMessageCallback callback,
                                                               void* user_data);
FLUTTER_DESKTOP_EXPORT void FlutterDesktopMessengerSendResponse(
    FlutterDesktopMessenger* messenger, const FlutterDesktopMessageResponseHandle* handle,
    const uint8_t* data, size_t data_length);
FLUTTER_DESKTOP_EXPORT FlutterDesktopMessenger* FlutterDesktopMessengerAddRef(
    FlutterDesktopMessenger* messenger);
FLUTTER_DESKTOP_EXPORT void FlutterDesktopMessengerRelease(FlutterDesktopMessenger* messenger);
/* While the lock is held the engine cannot go away. */
FLUTTER_DESKTOP_EXPORT FlutterDesktopMessenger* FlutterDesktopMessengerLock(
    FlutterDesktopMessenger* messenger);
FLUTTER_DESKTOP_EXPORT void FlutterDesktopMessengerUnlock(FlutterDesktopMessenger* messenger);
/* False once the engine has been destroyed. */
FLUTTER_DESKTOP_EXPORT bool FlutterDesktopMessengerIsAvailable(FlutterDesktopMessenger* messenger);

/* Plugin registrar and textures. */
FLUTTER_DESKTOP_EXPORT FlutterDesktopMessenger* FlutterDesktopPluginRegistrarGetMessenger(
    FlutterDesktopPluginRegistrar* registrar);
FLUTTER_DESKTOP_EXPORT FlutterDesktopTextureRegistrar* FlutterDesktopRegistrarGetTextureRegistrar(
    FlutterDesktopPluginRegistrar* registrar);
FLUTTER_DESKTOP_EXPORT FlutterDesktopView* FlutterDesktopPluginRegistrarGetView(
    FlutterDesktopPluginRegistrar* registrar);
FLUTTER_DESKTOP_EXPORT int64_t FlutterDesktopTextureRegistrarRegisterExternalTexture(
    FlutterDesktopTextureRegistrar* texture_registrar, const FlutterDesktopTextureInfo* info);
FLUTTER_DESKTOP_EXPORT void FlutterDesktopTextureRegistrarUnregisterExternalTexture(
    FlutterDesktopTextureRegistrar* texture_registrar, int64_t texture_id,
    FlutterDesktopOnTextureUnregistered callback, void* user_data);
FLUTTER_DESKTOP_EXPORT bool FlutterDesktopTextureRegistrarMarkExternalTextureFrameAvailable(
    FlutterDesktopTextureRegistrar* texture_registrar, int64_t texture_id);

/* Host. */
/* Makes the library's own output follow reopened standard streams. */
FLUTTER_DESKTOP_EXPORT void FlutterDesktopResyncOutputStreams(void);
/* 96 at 100 % scaling. */
FLUTTER_DESKTOP_EXPORT uint32_t FlutterDesktopGetDpiForMonitor(FlutterDesktopMonitorHandle monitor);

/* NOLINTEND(modernize-use-using, bugprone-reserved-identifier) */

#if defined(__cplusplus)
} /* extern "C" */
#endif
