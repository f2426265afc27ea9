#pragma once

#include <windows.h>

#include <string>

#include "standins/engine/script_commands.h"

namespace standin {

// Runs a "window ..." script line on the top-level window that holds `view`,
// on the platform thread; the transcript line it writes, or nothing.
std::string RunWindowCommand(HWND view, const ScriptCommand& command);

}  // namespace standin
