#include "standins/engine/win32_environment.h"

#include <cstdio>
#include <cwchar>
#include <iostream>

#include "standins/engine/win32_text.h"
#include "standins/record/standin_record.h"

namespace standin {

bool ReadEnvironment(const wchar_t* name, std::wstring* value) {
  const DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
  if (size == 0) {
    return false;
  }
  std::wstring buffer(size, L'\0');
  const DWORD length = GetEnvironmentVariableW(name, &buffer[0], size);
  buffer.resize(length);
  *value = buffer;
  return true;
}

unsigned long ReadEnvironmentNumber(const wchar_t* name) {
  std::wstring text;
  if (!ReadEnvironment(name, &text) || text.empty()) {
    return 0;
  }
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9') {
      return 0;
    }
  }
  return std::wcstoul(text.c_str(), nullptr, 10);
}

namespace {

std::FILE* OpenTranscriptFile() {
  std::wstring path;
  std::FILE* file = nullptr;
  if (ReadEnvironment(L"TARVEX_ENGINE_TRANSCRIPT", &path) && !path.empty()) {
    file = _wfopen(path.c_str(), L"wb");
    if (file == nullptr) {
      std::cerr << "tarvex stand-in engine: cannot write the transcript " << ToUtf8(path) << std::endl;
    }
  }
  return file;
}

// TARVEX_STANDIN_TIMES=1: every line carries its wall-clock time.
void ApplyTimesSetting(Transcript& transcript) {
  if (ReadEnvironmentNumber(L"TARVEX_STANDIN_TIMES") == 1) {
    transcript.SetClock(&NowUnixMilliseconds);
  } else {
    transcript.SetClock(nullptr);
  }
}

}  // namespace

std::shared_ptr<Transcript> ProcessTranscript() {
  // Never freed: lines may still be written while the process ends.
  static auto* transcript = [] {
    auto created = new std::shared_ptr<Transcript>(std::make_shared<Transcript>(OpenTranscriptFile()));
    ApplyTimesSetting(**created);
    return created;
  }();
  return *transcript;
}

void RestartProcessTranscript() {
  const std::shared_ptr<Transcript> transcript = ProcessTranscript();
  transcript->Reopen(OpenTranscriptFile());
  ApplyTimesSetting(*transcript);
}

}  // namespace standin
