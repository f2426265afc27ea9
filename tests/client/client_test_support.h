#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "standins/engine/standin_engine.h"

namespace flutter {

// "07 03 61 62 63": byte expectations read like a hex dump.
inline std::string Hex(const std::vector<uint8_t>& bytes) {
  std::string text;
  for (uint8_t byte : bytes) {
    char digits[4];
    std::snprintf(digits, sizeof(digits), "%02X ", byte);
    text += digits;
  }
  if (!text.empty()) {
    text.pop_back();
  }
  return text;
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

// Every test starts from fresh counts and an engine library that accepts
// engines.
class StandinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    standin::RefuseEngines(false);
    standin::ResetCounts();
  }
  void TearDown() override { standin::RefuseEngines(false); }
};

}  // namespace flutter
