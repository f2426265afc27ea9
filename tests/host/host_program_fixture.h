#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "tests/host/host_process.h"

namespace tarvex_test {

using namespace std::chrono_literals;

// Long enough for a slow Wine on a busy machine; a hung program fails the
// test instead of the whole run.
constexpr std::chrono::milliseconds kProgramLimit = 60s;

// "isConnected" without arguments, as the Flutter side sends it.
inline const std::string kIsConnectedCall = "07 0b 69 73 43 6f 6e 6e 65 63 74 65 64 00";

// The engine line of a start with the given "arguments ..." ending.
inline std::string EngineLine(const std::string& arguments) {
  return "engine assets \"data\\\\flutter_assets\" icu \"data\\\\icudtl.dat\" aot \"data\\\\app.so\" "
         "entrypoint \"\" " +
         arguments;
}

// Matches a whole line against an ECMAScript regular expression.
inline testing::Matcher<const std::string&> MatchesLine(const std::string& pattern) {
  return testing::Truly(
      [pattern](const std::string& line) { return std::regex_match(line, std::regex(pattern)); });
}

// Starts tarvex.exe runs and checks, when the test ends, that none of them
// used a handle the engine library had already destroyed.
class HostProgramTest : public testing::Test {
 protected:
  HostProcess& Start(const HostSetup& setup) {
    processes_.push_back(std::make_unique<HostProcess>(setup));
    EXPECT_TRUE(processes_.back()->started()) << "tarvex.exe did not start";
    return *processes_.back();
  }

  void TearDown() override {
    for (const std::unique_ptr<HostProcess>& process : processes_) {
      // A run the test left running is ended; its transcript still counts.
      process->WaitForExit(std::chrono::milliseconds(0));
      EXPECT_THAT(process->Transcript(), testing::Not(testing::Contains(testing::StartsWith("misuse "))));
    }
    processes_.clear();
  }

 private:
  std::vector<std::unique_ptr<HostProcess>> processes_;
};

}  // namespace tarvex_test
