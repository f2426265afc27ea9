#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string_view>

namespace standin {

// The file the scripted Flutter side writes what happens to. Lines end with
// a single line feed and are flushed one by one, so a reader sees every line
// as soon as it is written; any thread may write.
class Transcript {
 public:
  // Takes over `file`, opened in binary mode; null writes nowhere.
  explicit Transcript(std::FILE* file);
  ~Transcript();

  Transcript(const Transcript&) = delete;
  Transcript& operator=(const Transcript&) = delete;

  void WriteLine(std::string_view line);

  // With a clock, every line starts with its time from `clock` (wall-clock
  // Unix milliseconds) and one blank, taken under the lock so the times grow
  // down the file; an empty function writes lines as they are.
  void SetClock(std::function<uint64_t()> clock);
  bool Timed();

  // Closes the file and writes to `file` from now on (null: nowhere).
  void Reopen(std::FILE* file);

 private:
  std::mutex mutex_;
  std::FILE* file_;
  std::function<uint64_t()> clock_;
};

}  // namespace standin
