#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "simulated_windows.h"
#include "vpn_plugin/windows_vpn_plugin.h"

namespace tarvex {

// Reaches the tunnel registry, which only the tunnel methods fill.
class WindowsVpnPluginTestPeer {
 public:
  static void Register(WindowsVpnPlugin& plugin, const std::string& network_id) {
    plugin.tunnels_[network_id] = true;
  }
};

// One reply as the channel would have sent it.
struct Reply {
  std::string kind;  // "success", "error" or "not implemented"
  flutter::EncodableValue value;
  std::string code;
  std::string message;
};

class RecordingResult : public flutter::MethodResult<flutter::EncodableValue> {
 public:
  // `fail_success` makes Success throw, as a reply that cannot be encoded would.
  explicit RecordingResult(std::vector<Reply>* replies, bool fail_success = false)
      : replies_(replies), fail_success_(fail_success) {}

 protected:
  void SuccessInternal(const flutter::EncodableValue* result) override {
    if (fail_success_) {
      throw std::runtime_error("reply failed");
    }
    replies_->push_back(Reply{"success", result ? *result : flutter::EncodableValue(), "", ""});
  }
  void ErrorInternal(const std::string& code, const std::string& message,
                     const flutter::EncodableValue* details) override {
    replies_->push_back(Reply{"error", details ? *details : flutter::EncodableValue(), code, message});
  }
  void NotImplementedInternal() override { replies_->push_back(Reply{"not implemented", {}, "", ""}); }

 private:
  std::vector<Reply>* replies_;
  bool fail_success_;
};

// A plugin on a simulated machine. Every test ends with nothing left open.
class PluginTest : public ::testing::Test {
 protected:
  static constexpr const char* kLogPath = "C:\\Users\\ana\\AppData\\Roaming\\Tarvex\\windows_vpn_debug.log";

  void TearDown() override { EXPECT_EQ(windows.OpenHandles(), 0u) << "a handle or buffer was left open"; }

  // The log's messages as the plugin passed them: text mode undone, each
  // line's timestamp checked and stripped.
  std::vector<std::string> LogLines() const {
    static const std::string kStamp = "[2026-12-06 03:05:17] ";
    std::string text;
    const std::string contents = windows.FileContents(kLogPath).value_or("");
    for (std::string::size_type i = 0; i < contents.size(); ++i) {
      if (contents.compare(i, 2, "\r\n") != 0) {
        text.push_back(contents[i]);
      }
    }
    std::vector<std::string> lines;
    for (std::string::size_type start = 0; start < text.size();) {
      EXPECT_EQ(text.compare(start, kStamp.size(), kStamp), 0) << text.substr(start);
      std::string::size_type end = text.find("\n" + kStamp, start);
      end = end == std::string::npos ? text.size() - 1 : end;
      EXPECT_EQ(text[end], '\n') << "the log ends inside a line";
      lines.push_back(text.substr(start + kStamp.size(), end - start - kStamp.size()));
      start = end + 1;
    }
    return lines;
  }

  std::unique_ptr<SimulatedWindows> owned_windows_ = std::make_unique<SimulatedWindows>();
  SimulatedWindows& windows = *owned_windows_;
  WindowsVpnPlugin plugin{std::move(owned_windows_)};
};

}  // namespace tarvex
