// The platform of the Windows library: real view windows, frames and
// answers posted to the platform thread, the transcript and the scripted
// Flutter side.

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "standins/engine/engine_internals.h"
#include "standins/engine/script_commands.h"
#include "standins/engine/script_runner.h"
#include "standins/engine/transcript.h"
#include "standins/engine/win32_dispatcher.h"
#include "standins/engine/win32_text.h"
#include "standins/engine/win32_view.h"

namespace standin {

namespace {

constexpr std::chrono::milliseconds kDefaultReplyTimeout(120000);

// The environment variable, or nothing when it is not set.
bool ReadEnvironment(const wchar_t* name, std::wstring* value) {
  const DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
  if (size == 0) {
    return false;
  }
  std::wstring buffer(size, L'\0');
  const DWORD length = GetEnvironmentVariableW(name, &buffer[0], size);
  buffer.resize(length);
  *value = buffer;
  return true;
}

// A positive decimal number of the environment, or 0.
unsigned long ReadEnvironmentNumber(const wchar_t* name) {
  std::wstring text;
  if (!ReadEnvironment(name, &text) || text.empty()) {
    return 0;
  }
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9') {
      return 0;
    }
  }
  return std::wcstoul(text.c_str(), nullptr, 10);
}

std::wstring ExecutableFolder() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);
  }
  const size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

bool IsAbsolute(const std::wstring& path) {
  return (!path.empty() && (path[0] == L'\\' || path[0] == L'/')) || (path.size() >= 2 && path[1] == L':');
}

bool ReadWholeFile(const std::wstring& path, std::string* contents) {
  std::FILE* file = _wfopen(path.c_str(), L"rb");
  if (file == nullptr) {
    return false;
  }
  char buffer[4096];
  size_t count = 0;
  while ((count = std::fread(buffer, 1, sizeof(buffer), file)) > 0) {
    contents->append(buffer, count);
  }
  std::fclose(file);
  return true;
}

struct Win32EngineData : PlatformEngineData {
  std::shared_ptr<Transcript> transcript;
  std::shared_ptr<ScriptRunner> script;
};

Win32EngineData& DataOf(FlutterDesktopEngine& engine) {
  return static_cast<Win32EngineData&>(*engine.platform_data);
}

class Win32Platform : public Platform {
 public:
  bool AcceptEngine(const FlutterDesktopEngineProperties& properties) override {
    if (properties.assets_path == nullptr) {
      std::cerr << "tarvex stand-in engine: no assets path" << std::endl;
      return false;
    }
    std::wstring assets = properties.assets_path;
    if (!IsAbsolute(assets)) {
      assets = ExecutableFolder() + L"\\" + assets;
    }
    const DWORD attributes = GetFileAttributesW(assets.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      std::cerr << "tarvex stand-in engine: no assets folder " << ToUtf8(assets) << std::endl;
      return false;
    }
    return true;
  }

  std::unique_ptr<PlatformEngineData> EngineCreated(FlutterDesktopEngine& engine) override {
    // The creating thread is the platform thread: everything posted runs on
    // its message loop.
    Dispatcher::Get();
    auto data = std::make_unique<Win32EngineData>();
    data->transcript = OpenTranscript();
    std::wstring script_path;
    if (ReadEnvironment(L"TARVEX_ENGINE_SCRIPT", &script_path) && !script_path.empty()) {
      std::string script;
      if (ReadWholeFile(script_path, &script)) {
        data->script = std::make_shared<ScriptRunner>(engine.serial, data->transcript,
                                                      SplitScriptLines(script), ReplyTimeout());
        std::lock_guard<std::mutex> guard(mutex_);
        scripts_[engine.serial] = data->script;
      } else {
        std::cerr << "tarvex stand-in engine: cannot read the script " << ToUtf8(script_path) << std::endl;
      }
    }
    return data;
  }

  void EngineDestroying(FlutterDesktopEngine& engine) override {
    Win32EngineData& data = DataOf(engine);
    if (data.script) {
      data.script->Stop();
      std::lock_guard<std::mutex> guard(mutex_);
      scripts_.erase(engine.serial);
    }
  }

  bool CreateView(FlutterDesktopViewController& controller, int width, int height) override {
    HWND view = CreateViewWindow(width, height);
    controller.view.window = view;
    return view != nullptr;
  }

  void DestroyView(FlutterDesktopViewController& controller) override {
    // The host may have destroyed it already, with its own window.
    if (controller.view.window != nullptr && IsWindow(controller.view.window)) {
      DestroyWindow(controller.view.window);
    }
    controller.view.window = nullptr;
  }

  void FrameRequested(FlutterDesktopEngine& engine) override {
    const uint64_t serial = engine.serial;
    // Never inside the call that asked: the host sets its next-frame
    // callback after creating the view controller.
    Dispatcher::Get().Post([serial] { ProduceWindowFrame(serial); });
  }

  void ReplyQueued(FlutterDesktopEngine& engine) override {
    const uint64_t serial = engine.serial;
    Dispatcher::Get().Post([serial] {
      if (FlutterDesktopEngine* live = FindEngine(serial)) {
        RunPendingReplies(live);
      }
    });
  }

  void HostMessageSent(FlutterDesktopEngine& engine, const HostMessage& message) override {
    DataOf(engine).transcript->WriteLine(ChannelLine("host", message.channel, message.message));
  }

  void ResponseSent(uint64_t engine_serial, uint64_t delivery_id, const Reply& reply) override {
    std::shared_ptr<ScriptRunner> script;
    {
      std::lock_guard<std::mutex> guard(mutex_);
      auto found = scripts_.find(engine_serial);
      if (found != scripts_.end()) {
        script = found->second;
      }
    }
    if (script) {
      script->OnResponse(delivery_id, reply);
    }
  }

  uint32_t DpiForMonitor(FlutterDesktopMonitorHandle monitor) override {
    if (monitor == nullptr) {
      return 0;
    }
    const unsigned long forced = ReadEnvironmentNumber(L"TARVEX_STANDIN_DPI");
    if (forced > 0 && forced < 10000) {
      return static_cast<uint32_t>(forced);
    }
    return MonitorDpi(monitor);
  }

 private:
  static std::shared_ptr<Transcript> OpenTranscript() {
    std::wstring path;
    std::FILE* file = nullptr;
    if (ReadEnvironment(L"TARVEX_ENGINE_TRANSCRIPT", &path) && !path.empty()) {
      file = _wfopen(path.c_str(), L"wb");
      if (file == nullptr) {
        std::cerr << "tarvex stand-in engine: cannot write the transcript " << ToUtf8(path) << std::endl;
      }
    }
    return std::make_shared<Transcript>(file);
  }

  static std::chrono::milliseconds ReplyTimeout() {
    std::wstring text;
    if (!ReadEnvironment(L"TARVEX_STANDIN_REPLY_TIMEOUT_MS", &text)) {
      return kDefaultReplyTimeout;
    }
    const unsigned long milliseconds = ReadEnvironmentNumber(L"TARVEX_STANDIN_REPLY_TIMEOUT_MS");
    if (milliseconds == 0 && text != L"0") {
      std::cerr << "tarvex stand-in engine: TARVEX_STANDIN_REPLY_TIMEOUT_MS is not a number; using 120000"
                << std::endl;
      return kDefaultReplyTimeout;
    }
    return std::chrono::milliseconds(milliseconds);
  }

  static uint32_t MonitorDpi(FlutterDesktopMonitorHandle monitor) {
    // Shcore's GetDpiForMonitor (Windows 8.1 on); the screen's DPI before.
    using GetDpiForMonitorFunction = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
    constexpr int kEffectiveDpi = 0;
    HMODULE shcore = LoadLibraryW(L"shcore.dll");
    if (shcore != nullptr) {
      auto get_dpi = reinterpret_cast<GetDpiForMonitorFunction>(
          reinterpret_cast<void*>(GetProcAddress(shcore, "GetDpiForMonitor")));
      UINT dpi_x = 0;
      UINT dpi_y = 0;
      const bool found = get_dpi != nullptr && SUCCEEDED(get_dpi(monitor, kEffectiveDpi, &dpi_x, &dpi_y));
      FreeLibrary(shcore);
      if (found && dpi_x > 0) {
        return dpi_x;
      }
    }
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSX);
    ReleaseDC(nullptr, screen);
    return dpi > 0 ? static_cast<uint32_t>(dpi) : 96;
  }

  static void ProduceWindowFrame(uint64_t serial) {
    FlutterDesktopEngine* engine = FindEngine(serial);
    if (engine == nullptr || engine->controller == nullptr) {
      return;
    }
    PaintViewFrame(engine->controller->view.window, engine->frames_produced + 1);
    ProduceFrame(engine);
    // The next-frame callback may have ended the engine.
    engine = FindEngine(serial);
    if (engine != nullptr && DataOf(*engine).script) {
      DataOf(*engine).script->Start();
    }
  }

  std::mutex mutex_;
  // The running scripts by engine serial, for answers from any thread.
  std::map<uint64_t, std::shared_ptr<ScriptRunner>> scripts_;
};

}  // namespace

Platform& ThePlatform() {
  static Win32Platform* platform = new Win32Platform();
  return *platform;
}

}  // namespace standin
