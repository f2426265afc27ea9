#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "simulated_windows.h"
#include "vpn_plugin/windows_vpn_plugin.h"

namespace tarvex {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr const char* kLogPath = "C:\\Users\\ana\\AppData\\Roaming\\Tarvex\\windows_vpn_debug.log";

// The messages the plugin passed to Log on `windows`: text mode undone, each
// line's timestamp checked and stripped.
inline std::vector<std::string> LogLinesOf(const SimulatedWindows& windows) {
  const std::string stamp = "[2026-12-06 03:05:17] ";
  std::string text;
  for (char c : windows.files.count(kLogPath) != 0 ? windows.files.at(kLogPath) : "") {
    if (c == '\n' && !text.empty() && text.back() == '\r') {
      text.pop_back();
    }
    text += c;
  }
  std::vector<std::string> lines;
  for (std::size_t start = 0, end; start < text.size(); start = end + 1) {
    EXPECT_EQ(text.compare(start, stamp.size(), stamp), 0) << text.substr(start);
    end = std::min(text.find("\n" + stamp, start), text.size() - 1);
    lines.push_back(text.substr(start + stamp.size(), end - start - stamp.size()));
  }
  return lines;
}

// Writes the one reply a call got as text: "true", "false", "CODE: message"
// or "not implemented".
class RecordedResult : public flutter::MethodResult<flutter::EncodableValue> {
 public:
  explicit RecordedResult(std::string* reply) : reply_(reply) {}

 protected:
  void SuccessInternal(const flutter::EncodableValue* value) override {
    const bool* answer = value != nullptr ? value->TryGet<bool>() : nullptr;
    *reply_ = answer == nullptr ? "not a boolean" : *answer ? "true" : "false";
  }
  void ErrorInternal(const std::string& code, const std::string& message,
                     const flutter::EncodableValue* details) override {
    *reply_ = code + ": " + message + (details != nullptr ? " (with details)" : "");
  }
  void NotImplementedInternal() override { *reply_ = "not implemented"; }

 private:
  std::string* reply_;
};

// A plugin on a simulated machine. Every test ends with nothing left open.
class PluginTest : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(windows.OpenHandles(), 0u) << "a handle or buffer was left open"; }

  std::vector<std::string> LogLines() const { return LogLinesOf(windows); }
  // The log's lines from the `first`-th on, or its last `count` lines.
  std::vector<std::string> LogLinesFrom(std::size_t first) const {
    const std::vector<std::string> lines = LogLines();
    return std::vector<std::string>(lines.begin() + static_cast<std::ptrdiff_t>(first), lines.end());
  }
  std::vector<std::string> LastLogLines(std::size_t count) const {
    return LogLinesFrom(LogLines().size() - count);
  }

  // Sends a method call to the plugin; answers its reply as RecordedResult writes it.
  std::string Call(const std::string& method, std::unique_ptr<flutter::EncodableValue> arguments) {
    std::string reply = "no reply";
    plugin.HandleMethodCall({method, std::move(arguments)}, std::make_unique<RecordedResult>(&reply));
    return reply;
  }

  std::unique_ptr<SimulatedWindows> owned_windows_ = std::make_unique<SimulatedWindows>();
  SimulatedWindows& windows = *owned_windows_;
  WindowsVpnPlugin plugin{std::move(owned_windows_)};
};

}  // namespace tarvex
