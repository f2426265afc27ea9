#include "standins/engine/transcript.h"

#include <string>
#include <utility>

namespace standin {

Transcript::Transcript(std::FILE* file) : file_(file) {}

Transcript::~Transcript() {
  if (file_ != nullptr) {
    std::fclose(file_);
  }
}

void Transcript::Reopen(std::FILE* file) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (file_ != nullptr) {
    std::fclose(file_);
  }
  file_ = file;
}

void Transcript::WriteLine(std::string_view line) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (file_ == nullptr) {
    return;
  }
  if (clock_) {
    const std::string time = std::to_string(clock_()) + ' ';
    std::fwrite(time.data(), 1, time.size(), file_);
  }
  std::fwrite(line.data(), 1, line.size(), file_);
  std::fputc('\n', file_);
  std::fflush(file_);
}

void Transcript::SetClock(std::function<uint64_t()> clock) {
  std::lock_guard<std::mutex> guard(mutex_);
  clock_ = std::move(clock);
}

bool Transcript::Timed() {
  std::lock_guard<std::mutex> guard(mutex_);
  return static_cast<bool>(clock_);
}

}  // namespace standin
