// The platform of the Windows library: real view windows, frames and
// answers posted to the platform thread, the transcript and the scripted
// Flutter side.

#include <windows.h>

#include <io.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>

#include "standins/engine/engine_internals.h"
#include "standins/engine/script_commands.h"
#include "standins/engine/script_display.h"
#include "standins/engine/script_runner.h"
#include "standins/engine/transcript.h"
#include "standins/engine/win32_dispatcher.h"
#include "standins/engine/win32_environment.h"
#include "standins/engine/win32_text.h"
#include "standins/engine/win32_view.h"

namespace standin {

namespace {

constexpr std::chrono::milliseconds kDefaultReplyTimeout(120000);

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
  // What the view shows of the run.
  std::shared_ptr<ViewLog> view_log;
  std::shared_ptr<ScriptRunner> script;
  // No frame is drawn before this (TARVEX_STANDIN_FIRST_FRAME_DELAY_MS).
  std::chrono::steady_clock::time_point first_frame_due;
};

// "hidden", "visible", "parked" (the view is in no window of the program) or
// "gone": the state of the top-level window that holds `view`.
std::string TopLevelState(HWND view) {
  if (view == nullptr || !IsWindow(view)) {
    return "gone";
  }
  HWND top_level = GetAncestor(view, GA_ROOT);
  if (top_level == nullptr || top_level == ParkingWindow()) {
    return "parked";
  }
  return IsWindowVisible(top_level) ? "visible" : "hidden";
}

// TARVEX_STANDIN_ANSWER_MESSAGE, "<message>=<result>" separated by commas:
// every view controller answers these top-level window messages itself.
void AnswerConfiguredWindowMessages() {
  std::wstring setting;
  if (!ReadEnvironment(L"TARVEX_STANDIN_ANSWER_MESSAGE", &setting)) {
    return;
  }
  const std::string text = ToUtf8(setting);
  for (size_t start = 0; start <= text.size();) {
    const size_t comma = std::min(text.find(',', start), text.size());
    const std::string_view entry = std::string_view(text).substr(start, comma - start);
    start = comma + 1;
    const size_t equals = entry.find('=');
    int64_t message = 0;
    int64_t result = 0;
    if (equals == std::string_view::npos || !ParseNumber(entry.substr(0, equals), false, &message) ||
        !ParseNumber(entry.substr(equals + 1), true, &result) || message > 0xFFFFFFFF) {
      std::cerr << "tarvex stand-in engine: TARVEX_STANDIN_ANSWER_MESSAGE is not <message>=<result>: " << text
                << std::endl;
      return;
    }
    AnswerWindowMessage(static_cast<FlutterDesktopWindowMessage>(message),
                        static_cast<FlutterDesktopLResult>(result));
  }
}

// Where a standard stream of the C library writes: "console" (a character
// device; a console opened for writing only does not answer
// GetConsoleMode), "file" or "other".
std::string StreamTarget(std::FILE* stream) {
  switch (GetFileType(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream))))) {
    case FILE_TYPE_CHAR:
      return "console";
    case FILE_TYPE_DISK:
      return "file";
    default:
      return "other";
  }
}

Win32EngineData& DataOf(FlutterDesktopEngine& engine) {
  return static_cast<Win32EngineData&>(*engine.platform_data);
}

class Win32Platform : public Platform {
 public:
  bool AcceptEngine(const FlutterDesktopEngineProperties& properties) override {
    // The first engine keeps what was written before it; each later one
    // starts afresh.
    if (engines_requested_++ > 0) {
      RestartProcessTranscript();
    }
    const auto utf8 = [](const wchar_t* path) { return path != nullptr ? ToUtf8(path) : std::string(); };
    ProcessTranscript()->WriteLine(EngineLine(
        utf8(properties.assets_path), utf8(properties.icu_data_path), utf8(properties.aot_library_path),
        properties.dart_entrypoint, properties.dart_entrypoint_argc, properties.dart_entrypoint_argv));
    // The program settles its console before it starts the engine: alone on
    // one it made, or sharing its parent's.
    DWORD attached[2] = {};
    const DWORD processes = GetConsoleProcessList(attached, 2);
    if (processes > 0) {
      ProcessTranscript()->WriteLine(processes == 1 ? "console own" : "console shared");
    }
    if (properties.assets_path == nullptr) {
      std::cerr << "tarvex stand-in engine: no assets path" << std::endl;
      ProcessTranscript()->WriteLine("refused engine");
      return false;
    }
    std::wstring assets = properties.assets_path;
    if (!IsAbsolute(assets)) {
      assets = ExecutableFolder() + L"\\" + assets;
    }
    const DWORD attributes = GetFileAttributesW(assets.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      std::cerr << "tarvex stand-in engine: no assets folder " << ToUtf8(assets) << std::endl;
      ProcessTranscript()->WriteLine("refused engine");
      return false;
    }
    return true;
  }

  std::unique_ptr<PlatformEngineData> EngineCreated(FlutterDesktopEngine& engine) override {
    // The creating thread is the platform thread: everything posted runs on
    // its message loop.
    Dispatcher::Get();
    AnswerConfiguredWindowMessages();
    auto data = std::make_unique<Win32EngineData>();
    data->first_frame_due =
        std::chrono::steady_clock::now() +
        std::chrono::milliseconds(ReadEnvironmentNumber(L"TARVEX_STANDIN_FIRST_FRAME_DELAY_MS"));
    std::wstring script_path;
    std::string script;
    bool has_script = false;
    if (ReadEnvironment(L"TARVEX_ENGINE_SCRIPT", &script_path) && !script_path.empty()) {
      has_script = ReadWholeFile(script_path, &script);
      if (!has_script) {
        std::cerr << "tarvex stand-in engine: cannot read the script " << ToUtf8(script_path) << std::endl;
      }
    }
    data->view_log = std::make_shared<ViewLog>(has_script);
    if (has_script) {
      data->script = std::make_shared<ScriptRunner>(engine.serial, ProcessTranscript(),
                                                    SplitScriptLines(script), ReplyTimeout(), data->view_log);
      std::lock_guard<std::mutex> guard(mutex_);
      scripts_[engine.serial] = data->script;
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
    if (ReadEnvironmentNumber(L"TARVEX_STANDIN_REFUSE_VIEW_CONTROLLER") == 1) {
      ProcessTranscript()->WriteLine("refused viewcontroller");
      return false;
    }
    HWND view = CreateViewWindow(width, height, DataOf(*controller.engine).view_log);
    controller.view.window = view;
    return view != nullptr;
  }

  void DestroyView(FlutterDesktopViewController& controller) override {
    ProcessTranscript()->WriteLine("viewcontroller destroyed " + TopLevelState(controller.view.window));
    // The host may have destroyed it already, with its own window.
    if (controller.view.window != nullptr && IsWindow(controller.view.window)) {
      DestroyWindow(controller.view.window);
    }
    controller.view.window = nullptr;
  }

  void FrameRequested(FlutterDesktopEngine& engine) override {
    const uint64_t serial = engine.serial;
    const auto held_back = std::chrono::duration_cast<std::chrono::milliseconds>(
        DataOf(engine).first_frame_due - std::chrono::steady_clock::now());
    if (held_back.count() > 0) {
      Dispatcher::Get().StartTimer(static_cast<UINT>(held_back.count()),
                                   [serial] { ProduceWindowFrame(serial); });
      return;
    }
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

  void HostMessageSent(FlutterDesktopEngine& /*engine*/, const HostMessage& message) override {
    ProcessTranscript()->WriteLine(ChannelLine("host", message.channel, message.message));
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
    // Usually the program's first call: the transcript starts here.
    ProcessTranscript();
    if (monitor == nullptr) {
      return 0;
    }
    const unsigned long forced = ReadEnvironmentNumber(L"TARVEX_STANDIN_DPI");
    if (forced > 0 && forced < 10000) {
      return static_cast<uint32_t>(forced);
    }
    return MonitorDpi(monitor);
  }

  bool OffersRegistrar(const std::string& plugin_name) override {
    // TARVEX_STANDIN_NO_REGISTRAR: plugin names separated by commas.
    std::wstring setting;
    if (!ReadEnvironment(L"TARVEX_STANDIN_NO_REGISTRAR", &setting)) {
      return true;
    }
    const std::string names = "," + ToUtf8(setting) + ",";
    if (names.find("," + plugin_name + ",") == std::string::npos) {
      return true;
    }
    ProcessTranscript()->WriteLine("noregistrar " + plugin_name);
    return false;
  }

  void Note(const std::string& line) override { ProcessTranscript()->WriteLine(line); }

  void OutputStreamsResynced() override {
    ProcessTranscript()->WriteLine("resync stdout " + StreamTarget(stdout) + " stderr " +
                                   StreamTarget(stderr));
  }

 private:
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
    HWND view = engine->controller->view.window;
    const int frame_number = engine->frames_produced + 1;
    PaintViewFrame(view, frame_number);
    const std::string before = TopLevelState(view);
    ProduceFrame(engine);
    ProcessTranscript()->WriteLine("frame " + std::to_string(frame_number) + " " + before + " " +
                                   TopLevelState(view));
    // The next-frame callback may have ended the engine.
    engine = FindEngine(serial);
    if (engine != nullptr && DataOf(*engine).script) {
      DataOf(*engine).script->Start();
    }
  }

  // Platform thread only.
  int engines_requested_ = 0;
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
