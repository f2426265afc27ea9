#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "standins/engine/transcript.h"

namespace standin {

// The environment variable, or false when it is not set.
bool ReadEnvironment(const wchar_t* name, std::wstring* value);

// A positive decimal number of the environment, or 0.
unsigned long ReadEnvironmentNumber(const wchar_t* name);

// The file named by TARVEX_ENGINE_TRANSCRIPT, opened (and emptied) the first
// time it is needed and shared by everything in the process from then on;
// one that writes nowhere when the variable is not set. Its lines carry
// their times when TARVEX_STANDIN_TIMES=1 (read again at each restart).
std::shared_ptr<Transcript> ProcessTranscript();

// Empties the file and starts it again, for a process that creates one
// engine after another: each engine's run gets a transcript of its own.
void RestartProcessTranscript();

}  // namespace standin
