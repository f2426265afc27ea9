#pragma once

#include <cstdio>
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

  // Closes the file and writes to `file` from now on (null: nowhere).
  void Reopen(std::FILE* file);

 private:
  std::mutex mutex_;
  std::FILE* file_;
};

}  // namespace standin
