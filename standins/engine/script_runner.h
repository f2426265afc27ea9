#pragma once

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "standins/engine/engine_internals.h"
#include "standins/engine/script_commands.h"
#include "standins/engine/script_display.h"
#include "standins/engine/transcript.h"

namespace standin {

// Plays the Flutter side of one engine from a script, one line at a time on
// the platform thread, and writes what happens to the transcript; tells
// `observer` (the view's log, never null) too.
class ScriptRunner : public std::enable_shared_from_this<ScriptRunner> {
 public:
  ScriptRunner(uint64_t engine_serial, std::shared_ptr<Transcript> transcript, std::vector<std::string> lines,
               std::chrono::milliseconds reply_timeout, std::shared_ptr<ScriptObserver> observer);
  ~ScriptRunner();

  ScriptRunner(const ScriptRunner&) = delete;
  ScriptRunner& operator=(const ScriptRunner&) = delete;

  // After the engine's first frame; later calls do nothing.
  void Start();

  // The engine is going: no further line runs.
  void Stop();

  // The client answered a delivered message. Any thread.
  void OnResponse(uint64_t delivery_id, const Reply& reply);

 private:
  enum class AwaitState { kWaiting, kTimedOut };
  struct Awaited {
    std::string channel;
    AwaitState state = AwaitState::kWaiting;
    std::chrono::steady_clock::time_point sent;
    std::chrono::steady_clock::time_point deadline;
  };

  // Runs lines until one has to wait (sleep) or the script ends.
  void Step();
  void RunSend(const ScriptCommand& command);
  void RunClose();
  void End();
  void RunWindow(const ScriptCommand& command);
  void RunServices(const ScriptCommand& command);
  void RunProcessReport();
  void OnReplyTimeout(uint64_t delivery_id);
  // With mutex_ held: the reply time-out passed without an answer.
  void TimeOutLocked(Awaited& awaited);
  // Dispatches waiting window messages; false once the quit message came.
  bool PumpMessages();

  const uint64_t engine_serial_;
  const std::shared_ptr<Transcript> transcript_;
  const std::vector<std::string> lines_;
  const std::chrono::milliseconds reply_timeout_;
  const std::shared_ptr<ScriptObserver> observer_;

  // Platform thread only.
  size_t next_line_ = 0;
  bool started_ = false;
  bool stepping_ = false;
  bool finished_ = false;
  bool stopped_ = false;
  UINT_PTR sleep_timer_ = 0;

  // Messages whose answer is still outstanding, by delivery id; guarded by
  // mutex_ since answers may come from any thread.
  std::mutex mutex_;
  std::map<uint64_t, Awaited> awaited_;
  // Set when an answer comes, to wake the wait of RunSend.
  HANDLE answer_event_;
};

}  // namespace standin
