#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "embedding/flutter_view_controller.h"
#include "embedding/method_channel.h"
#include "embedding/project_bundle.h"
#include "embedding/standard_method_codec.h"
#include "standins/engine/standin_engine.h"

namespace flutter {

// "07 03 61 62 63": byte expectations read like a hex dump.
inline std::string Hex(const std::vector<uint8_t>& bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (uint8_t byte : bytes) {
    text += {' ', kDigits[byte >> 4], kDigits[byte & 0x0F]};
  }
  return text.empty() ? text : text.substr(1);
}

inline std::vector<uint8_t> Bytes(const std::string& hex) {
  std::vector<uint8_t> bytes;
  std::istringstream in(hex);
  unsigned int byte = 0;
  while (in >> std::hex >> byte) {
    bytes.push_back(static_cast<uint8_t>(byte));
  }
  return bytes;
}

// The method call "ping" without arguments.
inline const std::string kPingCall = "07 04 70 69 6E 67 00";

// A running engine with a view and a method channel on it, from fresh counts.
class StandinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    standin::RefuseEngines(false);
    standin::ResetCounts();
    controller_ = std::make_unique<FlutterViewController>(800, 600, ProjectBundle(L"data"));
    engine_ = standin::LastEngine();
    channel_ = Channel("test/channel");
  }

  std::unique_ptr<MethodChannel<>> Channel(const std::string& name) {
    return std::make_unique<MethodChannel<>>(controller_->engine()->messenger(), name,
                                             &StandardMethodCodec::GetInstance());
  }

  standin::Delivery Deliver(const std::string& channel, const std::string& hex = kPingCall) {
    return standin::DeliverMessage(engine_, channel, Bytes(hex));
  }

  std::unique_ptr<FlutterViewController> controller_;
  FlutterDesktopEngine* engine_ = nullptr;
  std::unique_ptr<MethodChannel<>> channel_;
};

}  // namespace flutter
