#include "standins/engine/win32_environment.h"

#include <cstdio>
#include <cwchar>
#include <iostream>

#include "standins/engine/win32_text.h"

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

}  // namespace

std::shared_ptr<Transcript> ProcessTranscript() {
  // Never freed: lines may still be written while the process ends.
  static auto* transcript =
      new std::shared_ptr<Transcript>(std::make_shared<Transcript>(OpenTranscriptFile()));
  return *transcript;
}

void RestartProcessTranscript() { ProcessTranscript()->Reopen(OpenTranscriptFile()); }

}  // namespace standin
