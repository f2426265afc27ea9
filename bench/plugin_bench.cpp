// The plugin's own time per "startTunnel", "stopTunnel" and "isConnected".
//
// The plugin is registered as the host registers it (RegisterWithRegistrar on
// the engine-library stand-in's messenger) and every call arrives as the
// bytes the Flutter side sends, encoded once before the timed loop: the timed
// part is the messenger's delivery, the channel's decode, the plugin's
// handler and the encoded reply. Windows is the tests' simulated machine, on
// which child processes and waits cost nothing; its own bookkeeping is timed
// with the plugin. `BM_ChannelOnly` times the same delivery to a handler that
// answers at once, for what the plugin adds on top of the transport.
//
// Argument /0 keeps the debug log in the simulated machine's memory, /1 in a
// real file in the system's temporary folder. Times are the benchmark
// thread's CPU time (the library's default), which takes in the kernel's
// work for the log's writes to the page cache but not the later writeback.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "embedding/flutter_view_controller.h"
#include "embedding/method_channel.h"
#include "embedding/plugin_registrar_windows.h"
#include "embedding/standard_method_codec.h"
#include "standins/engine/standin_engine.h"
#include "tests/vpn_plugin/simulated_windows.h"
#include "vpn_plugin/windows_vpn_plugin.h"

namespace tarvex {
namespace {

using flutter::EncodableMap;
using flutter::EncodableValue;

constexpr const char* kChannel = "tarvex/windows_vpn";
constexpr const char* kLogPath = "C:\\Users\\ana\\AppData\\Roaming\\Tarvex\\windows_vpn_debug.log";
constexpr const char* kConfig =
    "[Interface]\nPrivateKey = cGxhY2Vob2xkZXI=\nAddress = 10.66.66.2/32, fd42::2/128\nDNS = 10.66.66.1\n\n"
    "[Peer]\nPublicKey = cGxhY2Vob2xkZXIgcGVlcg==\nAllowedIPs = 0.0.0.0/0, ::/0\n"
    "Endpoint = 203.0.113.5:51820\nPersistentKeepalive = 25\n";

// The replies the Flutter side decodes as true and false.
const std::vector<uint8_t> kTrue = {0x00, 0x01};
const std::vector<uint8_t> kFalse = {0x00, 0x02};

std::vector<uint8_t> Encoded(const std::string& method, std::unique_ptr<EncodableValue> arguments) {
  return *flutter::StandardMethodCodec::GetInstance().EncodeMethodCall(
      flutter::MethodCall<EncodableValue>(method, std::move(arguments)));
}
const std::vector<uint8_t>& StartCall() {
  static const std::vector<uint8_t> bytes = Encoded(
      "startTunnel",
      std::make_unique<EncodableValue>(EncodableMap{{EncodableValue("networkId"), EncodableValue("office")},
                                                    {EncodableValue("config"), EncodableValue(kConfig)}}));
  return bytes;
}
const std::vector<uint8_t>& StopCall() {
  static const std::vector<uint8_t> bytes =
      Encoded("stopTunnel", std::make_unique<EncodableValue>(
                                EncodableMap{{EncodableValue("networkId"), EncodableValue("office")}}));
  return bytes;
}
const std::vector<uint8_t>& IsConnectedCall() {
  static const std::vector<uint8_t> bytes = Encoded("isConnected", nullptr);
  return bytes;
}

// The simulated machine with the debug log in a real file (`disk_path`), in
// binary with the same CR LF bytes text mode stores: a log on a real disk.
// The log is opened for one line at a time; every other file stays in
// memory, and the calls are counted as the machine counts them.
class DiskLogWindows : public SimulatedWindows {
 public:
  explicit DiskLogWindows(std::string disk_path) : disk_path_(std::move(disk_path)) {}

  FileHandle FileOpen(const char* path, FileOpenMode mode) override {
    if (std::string(path) != kLogPath) {
      return SimulatedWindows::FileOpen(path, mode);
    }
    disk_ = Fails("FileOpen") ? nullptr : std::fopen(disk_path_.c_str(), "ab");
    return disk_ != nullptr ? &log_ : nullptr;
  }
  std::size_t FileWrite(FileHandle file, const char* data, std::size_t size) override {
    if (file != &log_) {
      return SimulatedWindows::FileWrite(file, data, size);
    }
    std::string stored;
    for (std::size_t i = 0; i < size; ++i) {
      stored += data[i] == '\n' ? "\r\n" : std::string(1, data[i]);
    }
    const bool failing = Fails("FileWrite");
    return !failing && std::fwrite(stored.data(), 1, stored.size(), disk_) == stored.size() ? size : 0;
  }
  int FileFlush(FileHandle file) override {
    if (file != &log_) {
      return SimulatedWindows::FileFlush(file);
    }
    return Fails("FileFlush") ? -1 : std::fflush(disk_);
  }
  int FileClose(FileHandle file) override {
    if (file != &log_) {
      return SimulatedWindows::FileClose(file);
    }
    const bool failing = Fails("FileClose");
    const int closed = std::fclose(disk_);
    disk_ = nullptr;
    return closed == 0 && !failing ? 0 : -1;
  }

 private:
  std::string disk_path_;
  FileObject log_{kLogPath};
  std::FILE* disk_ = nullptr;
};

// A fresh Windows machine, the user an administrator, with the bundled
// wireguard.exe (which installs and removes tunnel services as the real one
// does, and takes 0.8 s of simulated time) and netsh. No WireGuard driver is
// installed yet and no service exists: a first install. The log is kept in
// memory, or in the real file `disk_log` when it is not empty.
std::unique_ptr<SimulatedWindows> FreshMachine(const std::string& disk_log) {
  return disk_log.empty() ? std::make_unique<SimulatedWindows>() : std::make_unique<DiskLogWindows>(disk_log);
}

// The plugin on a fresh machine, registered on a stand-in engine's messenger,
// with its log in memory or in a real temporary file that goes with it.
class PluginOnMachine {
 public:
  explicit PluginOnMachine(bool log_on_disk) {
    if (log_on_disk) {
      std::random_device random;
      disk_log_ = std::filesystem::temp_directory_path() /
                  ("tarvex_plugin_bench_" + std::to_string(random()) + ".log");
    }
    auto machine = FreshMachine(disk_log_.string());
    windows_ = machine.get();
    registrar_ =
        std::make_unique<flutter::PluginRegistrarWindows>(controller_.engine()->GetPluginRegistrar(kChannel));
    WindowsVpnPlugin::RegisterWithRegistrar(registrar_.get(), std::move(machine));
  }
  ~PluginOnMachine() {
    registrar_.reset();  // the plugin, and the machine with it
    if (!disk_log_.empty()) {
      std::filesystem::remove(disk_log_);
    }
  }
  PluginOnMachine(const PluginOnMachine&) = delete;
  PluginOnMachine& operator=(const PluginOnMachine&) = delete;

  // Delivers the bytes on the plugin's channel, as the engine does; the reply's bytes.
  std::vector<uint8_t> Deliver(const std::vector<uint8_t>& message) {
    return standin::DeliverMessage(standin::LastEngine(), kChannel, message).reply.bytes;
  }

  // Forgets what the machine recorded of earlier calls (launches, debugger
  // output, the log in memory), so that every iteration starts alike.
  void ForgetHistory() {
    windows_->launches.clear();
    windows_->debug_output.clear();
    const auto log = windows_->files.find(kLogPath);
    if (log != windows_->files.end()) {
      log->second.clear();  // its capacity stays, as a log that has grown on a real disk
    }
  }

  // Simulated Windows calls, and log lines written (each flushed once), so far.
  int WindowsCalls() const {
    return std::accumulate(windows_->calls.begin(), windows_->calls.end(), 0,
                           [](int sum, const auto& entry) { return sum + entry.second; });
  }
  int LogLines() const {
    return windows_->calls.count("FileFlush") != 0 ? windows_->calls.at("FileFlush") : 0;
  }
  std::size_t OpenHandles() const { return windows_->OpenHandles(); }
  flutter::BinaryMessenger* messenger() { return registrar_->messenger(); }

 private:
  flutter::FlutterViewController controller_{800, 600, flutter::ProjectBundle(L"data")};
  std::unique_ptr<flutter::PluginRegistrarWindows> registrar_;
  SimulatedWindows* windows_ = nullptr;
  std::filesystem::path disk_log_;
};

// Runs `call` once outside the timing and reports what it cost the machine,
// per call: simulated Windows calls and log lines. False when the reply was
// not the expected one.
template <typename Call>
bool Profile(benchmark::State& state, PluginOnMachine& plugin, const Call& call) {
  const int calls = plugin.WindowsCalls();
  const int lines = plugin.LogLines();
  if (!call()) {
    return false;
  }
  state.counters["windows_calls"] = plugin.WindowsCalls() - calls;
  state.counters["log_lines"] = plugin.LogLines() - lines;
  return true;
}

void Finish(benchmark::State& state, const PluginOnMachine& plugin, bool replies_as_expected) {
  if (!replies_as_expected) {
    state.SkipWithError("the plugin's reply was not the expected one");
  } else if (plugin.OpenHandles() != 0) {
    state.SkipWithError("the plugin left handles open");
  }
  state.SetLabel(state.range(0) == 0 ? "log in memory" : "log on disk");
}

// startTunnel timed; the stopTunnel that removes the tunnel again (service,
// firewall rules, file, registration) runs with the timing paused.
void BM_StartTunnel(benchmark::State& state) {
  PluginOnMachine plugin(state.range(0) != 0);
  bool expected = Profile(state, plugin, [&] { return plugin.Deliver(StartCall()) == kTrue; }) &&
                  plugin.Deliver(StopCall()) == kTrue;
  for (auto _ : state) {
    if (!expected) {
      break;
    }
    const std::vector<uint8_t> started = plugin.Deliver(StartCall());
    state.PauseTiming();
    expected = started == kTrue && plugin.Deliver(StopCall()) == kTrue;
    plugin.ForgetHistory();
    state.ResumeTiming();
  }
  Finish(state, plugin, expected);
}

// stopTunnel timed, of a tunnel that a startTunnel with the timing paused has just brought up.
void BM_StopTunnel(benchmark::State& state) {
  PluginOnMachine plugin(state.range(0) != 0);
  bool expected = plugin.Deliver(StartCall()) == kTrue &&
                  Profile(state, plugin, [&] { return plugin.Deliver(StopCall()) == kTrue; });
  for (auto _ : state) {
    state.PauseTiming();
    expected = expected && plugin.Deliver(StartCall()) == kTrue;
    plugin.ForgetHistory();
    state.ResumeTiming();
    if (!expected) {
      break;
    }
    expected = plugin.Deliver(StopCall()) == kTrue;
  }
  Finish(state, plugin, expected);
}

// isConnected on a machine without any service: the registry is empty, so
// every Win32 service is enumerated (none), and the answer is false.
void BM_IsConnectedClean(benchmark::State& state) {
  PluginOnMachine plugin(state.range(0) != 0);
  bool expected = Profile(state, plugin, [&] { return plugin.Deliver(IsConnectedCall()) == kFalse; });
  for (auto _ : state) {
    expected = expected && plugin.Deliver(IsConnectedCall()) == kFalse;
  }
  Finish(state, plugin, expected);
}

// isConnected with the tunnel "office" up: its service is opened and queried.
void BM_IsConnectedTunnelUp(benchmark::State& state) {
  PluginOnMachine plugin(state.range(0) != 0);
  bool expected = plugin.Deliver(StartCall()) == kTrue &&
                  Profile(state, plugin, [&] { return plugin.Deliver(IsConnectedCall()) == kTrue; });
  for (auto _ : state) {
    expected = expected && plugin.Deliver(IsConnectedCall()) == kTrue;
  }
  Finish(state, plugin, expected && plugin.Deliver(StopCall()) == kTrue);
}

// The transport alone: "isConnected" delivered to a channel on the same
// messenger whose handler answers true at once.
void BM_ChannelOnly(benchmark::State& state) {
  PluginOnMachine plugin(false);
  const char* const channel_name = "bench/answers_at_once";
  flutter::MethodChannel<EncodableValue> channel(plugin.messenger(), channel_name,
                                                 &flutter::StandardMethodCodec::GetInstance());
  channel.SetMethodCallHandler([](const flutter::MethodCall<EncodableValue>&,
                                  std::unique_ptr<flutter::MethodResult<EncodableValue>> result) {
    result->Success(EncodableValue(true));
  });
  bool expected = true;
  for (auto _ : state) {
    expected =
        expected &&
        standin::DeliverMessage(standin::LastEngine(), channel_name, IsConnectedCall()).reply.bytes == kTrue;
  }
  if (!expected) {
    state.SkipWithError("the reply was not the expected one");
  }
  channel.SetMethodCallHandler(nullptr);
}

BENCHMARK(BM_StartTunnel)->DenseRange(0, 1);
BENCHMARK(BM_StopTunnel)->DenseRange(0, 1);
BENCHMARK(BM_IsConnectedClean)->DenseRange(0, 1);
BENCHMARK(BM_IsConnectedTunnelUp)->DenseRange(0, 1);
BENCHMARK(BM_ChannelOnly);

}  // namespace
}  // namespace tarvex
