#pragma once

// What the view shows of the scripted Flutter side: the script's events as
// display lines, kept for the view to paint. Portable; the formatting is
// pure, and the Windows view only paints what ViewLog holds.

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "standins/engine/script_commands.h"

namespace standin {

// How a send ended.
enum class SendOutcome {
  // Answered before the reply time-out.
  kReply,
  // Answered after it.
  kLateReply,
  // Nobody listens on the channel.
  kUnhandled,
  // The reply time-out passed without an answer.
  kNoReply,
};

// What the script runner tells whoever shows the run. The runner calls from
// the platform thread, except the answers, which may come from any thread.
class ScriptObserver {
 public:
  virtual ~ScriptObserver() = default;
  // The script ran out or closed the window.
  virtual void ScriptEnded() = 0;
  virtual void Sending(const std::string& channel, const std::vector<uint8_t>& message) = 0;
  // `reply` is empty for an empty reply and for kUnhandled and kNoReply.
  virtual void SendEnded(SendOutcome outcome, const std::vector<uint8_t>& reply,
                         std::chrono::milliseconds elapsed) = 0;
  virtual void ServicesListed(const std::string& prefix, const ServiceListing& listing) = 0;
  virtual void Noted(const std::string& text) = 0;
  // The "process report" line, as written to the transcript.
  virtual void ProcessReported(const std::string& line) = 0;
  // A script line the stand-in did not understand.
  virtual void LineRefused(size_t line_number, const std::string& reason) = 0;
};

// How a display line is coloured.
enum class DisplayTone { kCall, kSuccess, kError, kQuiet, kService, kNote };

struct DisplayLine {
  DisplayTone tone = DisplayTone::kQuiet;
  std::string text;

  bool operator==(const DisplayLine& other) const { return tone == other.tone && text == other.text; }
};

// A value of the standard message codec, encoded, as text: strings quoted,
// maps as {key: value}, lists as [a, b], typed lists with their element
// type; a long or multi-line string cut at its first line end (or its 32nd
// byte) and shown with its length ("\"[Interface]\"… (281 bytes)"); long
// lists after 8 items. Empty when `bytes` hold no single value.
std::string DescribeValue(const std::vector<uint8_t>& bytes);

// A method call of the standard method codec: "<method>" or
// "<method> <arguments>"; bytes that are no method call as ShortHex.
std::string DescribeMethodCall(const std::vector<uint8_t>& message);

// "hex 07 04 70 69 … (23 bytes)": at most the first 16 bytes; "no bytes"
// for none.
std::string ShortHex(const std::vector<uint8_t>& bytes);

// "→ <method> <arguments>".
DisplayLine SendingLine(const std::vector<uint8_t>& message);

// "← success <value>" (a success envelope), "← error <code> <message>" (an
// error envelope), "← not implemented" (an empty reply), "← unhandled",
// "← no reply"; a reply that is no envelope as ShortHex. Each with the
// elapsed milliseconds, a late reply marked as such.
DisplayLine OutcomeLine(SendOutcome outcome, const std::vector<uint8_t>& reply,
                        std::chrono::milliseconds elapsed);

// "services <prefix>: none" or a heading and "  <name> <STATE>" per service;
// "services <prefix>: error <code>".
std::vector<DisplayLine> ServiceLines(const std::string& prefix, const ServiceListing& listing);

// The marker line of a note.
DisplayLine NoteLine(const std::string& text);

// The lines of the run as the view shows them; any thread. Keeps the last
// kKeptLines lines, enough to fill any screen.
class ViewLog : public ScriptObserver {
 public:
  static constexpr size_t kKeptLines = 400;

  explicit ViewLog(bool has_script);

  struct Snapshot {
    // "script running · engine stand-in, frame N" and the like.
    std::string status;
    std::vector<DisplayLine> lines;
  };
  Snapshot Take();

  // Called after every change, outside the lock (the view invalidates
  // itself); an empty function for none.
  void SetChanged(std::function<void()> changed);

  void SetFrame(int frame_number);

  void ScriptEnded() override;
  void Sending(const std::string& channel, const std::vector<uint8_t>& message) override;
  void SendEnded(SendOutcome outcome, const std::vector<uint8_t>& reply,
                 std::chrono::milliseconds elapsed) override;
  void ServicesListed(const std::string& prefix, const ServiceListing& listing) override;
  void Noted(const std::string& text) override;
  void ProcessReported(const std::string& line) override;
  void LineRefused(size_t line_number, const std::string& reason) override;

 private:
  // Runs `change` under the lock, then the change callback.
  void Change(const std::function<void()>& change);
  // With mutex_ held.
  void AddLocked(DisplayLine line);

  std::mutex mutex_;
  bool has_script_;
  bool ended_ = false;
  int frame_ = 0;
  std::deque<DisplayLine> lines_;
  std::function<void()> changed_;
};

}  // namespace standin
