#include "standins/engine/transcript.h"

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
  std::fwrite(line.data(), 1, line.size(), file_);
  std::fputc('\n', file_);
  std::fflush(file_);
}

}  // namespace standin
